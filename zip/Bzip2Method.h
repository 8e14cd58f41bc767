#pragma once
// ZIP method 12: bzip2 through libbzip2.
#include "zip/ICompressionMethod.h"
#include "zip/bzip2_codec.h"

#include <memory>

class Bzip2Method : public ICompressionMethod
{
public:
    Bzip2Method()
    {
        encoder = std::make_shared<basic_bzip2_encoder<char>>();
        decoder = std::make_shared<basic_bzip2_decoder<char>>();
    }

    bzip2_encoder_properties& GetEncoderProperties() override
    {
        encoderProperties.normalize();
        return encoderProperties;
    }

    bzip2_decoder_properties& GetDecoderProperties() override
    {
        decoderProperties.normalize();
        return decoderProperties;
    }

    const MethodDescriptor& GetMethodDescriptor() const override { return Descriptor(); }

    // One descriptor for the class, made on first use.
    static const MethodDescriptor& Descriptor()
    {
        static const MethodDescriptor descriptor{12, 46};
        return descriptor;
    }

private:
    bzip2_encoder_properties encoderProperties;
    bzip2_decoder_properties decoderProperties;
};
