#pragma once
// Settings of every codec. normalize() clamps silently; settings are never refused.
#include <cstddef>
#include <cstdint>

struct compression_properties_interface
{
    virtual ~compression_properties_interface() = default;
    virtual void normalize() = 0;
};

struct compression_encoder_properties_interface : compression_properties_interface
{
};

struct compression_decoder_properties_interface : compression_properties_interface
{
};

struct store_encoder_properties : compression_encoder_properties_interface
{
    size_t BufferCapacity = 32768;
    void normalize() override {}
};

struct store_decoder_properties : compression_decoder_properties_interface
{
    size_t BufferCapacity = 32768;
    void normalize() override {}
};

struct deflate_encoder_properties : compression_encoder_properties_interface
{
    size_t BufferCapacity = 32768;
    int32_t CompressionLevel = 6;
    void normalize() override;
};

struct deflate_decoder_properties : compression_decoder_properties_interface
{
    size_t BufferCapacity = 32768;
    void normalize() override {}
};

struct bzip2_encoder_properties : compression_encoder_properties_interface
{
    size_t BufferCapacity = 32768;
    int32_t BlockSize = 6; // in units of 100,000 bytes
    int32_t WorkFactor = 30;
    void normalize() override;
};

struct bzip2_decoder_properties : compression_decoder_properties_interface
{
    size_t BufferCapacity = 32768;
    void normalize() override {}
};

struct lzma_encoder_properties : compression_encoder_properties_interface
{
    bool IsMultithreaded = true;
    int32_t CompressionLevel = 5;
    void normalize() override; // through the LZMA SDK's own normalisation
};

struct lzma_decoder_properties : compression_decoder_properties_interface
{
    size_t BufferCapacity = 32768;
    void normalize() override {}
};
