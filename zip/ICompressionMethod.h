#pragma once
// A ZIP compression method: its header identity, its settings and one encoder and one
// decoder. A method object serves one encoding and one decoding at a time.
#include "zip/compression_interface.h"

#include <cstdint>
#include <memory>

struct MethodDescriptor
{
    uint16_t CompressionMethod;
    uint16_t VersionNeededToExtract;
};

class ICompressionMethod
{
public:
    using encoder_type = compression_encoder_interface;
    using decoder_type = compression_decoder_interface;

    virtual ~ICompressionMethod() = default;

    // Both normalise the properties in place on every call.
    virtual compression_encoder_properties_interface& GetEncoderProperties() = 0;
    virtual compression_decoder_properties_interface& GetDecoderProperties() = 0;
    virtual const MethodDescriptor& GetMethodDescriptor() const = 0;

    std::shared_ptr<encoder_type> GetEncoder() const { return encoder; }
    std::shared_ptr<decoder_type> GetDecoder() const { return decoder; }

protected:
    // Declared in this order so that destruction releases the decoder first, then the encoder.
    std::shared_ptr<encoder_type> encoder;
    std::shared_ptr<decoder_type> decoder;
};

// A new method for a ZIP method id (0 store, 8 deflate, 12 bzip2, 14 LZMA); empty otherwise.
std::shared_ptr<ICompressionMethod> CreateCompressionMethod(uint16_t methodId);
