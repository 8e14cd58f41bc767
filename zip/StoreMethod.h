#pragma once
// ZIP method 0: the data stored unchanged.
#include "zip/ICompressionMethod.h"
#include "zip/store_codec.h"

#include <memory>

class StoreMethod : public ICompressionMethod
{
public:
    StoreMethod()
    {
        encoder = std::make_shared<basic_store_encoder<char>>();
        decoder = std::make_shared<basic_store_decoder<char>>();
    }

    store_encoder_properties& GetEncoderProperties() override
    {
        encoderProperties.normalize();
        return encoderProperties;
    }

    store_decoder_properties& GetDecoderProperties() override
    {
        decoderProperties.normalize();
        return decoderProperties;
    }

    const MethodDescriptor& GetMethodDescriptor() const override { return Descriptor(); }

    // One descriptor for the class, made on first use.
    static const MethodDescriptor& Descriptor()
    {
        static const MethodDescriptor descriptor{0, 10};
        return descriptor;
    }

private:
    store_encoder_properties encoderProperties;
    store_decoder_properties decoderProperties;
};
