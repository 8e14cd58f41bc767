#pragma once
// ZIP method 14: LZMA through the LZMA SDK. Its encoder encodes one stream only, so every
// LZMA encoding needs a method object of its own.
#include "zip/ICompressionMethod.h"
#include "zip/lzma_decoder.h"
#include "zip/lzma_encoder.h"

#include <memory>

class LzmaMethod : public ICompressionMethod
{
public:
    LzmaMethod()
    {
        encoder = std::make_shared<basic_lzma_encoder<char>>();
        decoder = std::make_shared<basic_lzma_decoder<char>>();
    }

    lzma_encoder_properties& GetEncoderProperties() override
    {
        encoderProperties.normalize();
        return encoderProperties;
    }

    lzma_decoder_properties& GetDecoderProperties() override
    {
        decoderProperties.normalize();
        return decoderProperties;
    }

    const MethodDescriptor& GetMethodDescriptor() const override { return Descriptor(); }

    // One descriptor for the class, made on first use.
    static const MethodDescriptor& Descriptor()
    {
        static const MethodDescriptor descriptor{14, 63};
        return descriptor;
    }

private:
    lzma_encoder_properties encoderProperties;
    lzma_decoder_properties decoderProperties;
};
