#pragma once
// ZIP method 8: raw deflate through zlib.
#include "zip/ICompressionMethod.h"
#include "zip/deflate_codec.h"

#include <memory>

class DeflateMethod : public ICompressionMethod
{
public:
    DeflateMethod()
    {
        encoder = std::make_shared<basic_deflate_encoder<char>>();
        decoder = std::make_shared<basic_deflate_decoder<char>>();
    }

    deflate_encoder_properties& GetEncoderProperties() override
    {
        encoderProperties.normalize();
        return encoderProperties;
    }

    deflate_decoder_properties& GetDecoderProperties() override
    {
        decoderProperties.normalize();
        return decoderProperties;
    }

    const MethodDescriptor& GetMethodDescriptor() const override { return Descriptor(); }

    // One descriptor for the class, made on first use.
    static const MethodDescriptor& Descriptor()
    {
        static const MethodDescriptor descriptor{8, 20};
        return descriptor;
    }

private:
    deflate_encoder_properties encoderProperties;
    deflate_decoder_properties decoderProperties;
};
