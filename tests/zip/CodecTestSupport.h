#pragma once
// Helpers of the codec tests: drive a codec directly in blocks or through the compression
// stream buffers.
#include "zip/bzip2_codec.h"
#include "zip/compression_decoder_stream.h"
#include "zip/compression_encoder_stream.h"
#include "zip/deflate_codec.h"
#include "zip/store_codec.h"

#include "../common/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace codectest {

struct StoreCodec
{
    using Encoder = basic_store_encoder<char>;
    using Decoder = basic_store_decoder<char>;
    using EncoderProperties = store_encoder_properties;
    using DecoderProperties = store_decoder_properties;
};
struct DeflateCodec
{
    using Encoder = basic_deflate_encoder<char>;
    using Decoder = basic_deflate_decoder<char>;
    using EncoderProperties = deflate_encoder_properties;
    using DecoderProperties = deflate_decoder_properties;
};
struct Bzip2Codec
{
    using Encoder = basic_bzip2_encoder<char>;
    using Decoder = basic_bzip2_decoder<char>;
    using EncoderProperties = bzip2_encoder_properties;
    using DecoderProperties = bzip2_decoder_properties;
};

// Feeds data to a bound encoder in full blocks and one last short block, as every caller must.
template <class Encoder>
void EncodeInBlocks(Encoder& encoder, const std::string& data)
{
    for (size_t pos = 0;;)
    {
        const size_t capacity = static_cast<size_t>(encoder.get_buffer_end() - encoder.get_buffer_begin());
        const size_t n = std::min(capacity, data.size() - pos);
        std::memcpy(encoder.get_buffer_begin(), data.data() + pos, n);
        encoder.encode_next(n);
        pos += n;
        if (n < capacity)
            return;
    }
}

template <class Decoder>
std::string DecodeAll(Decoder& decoder)
{
    std::string result;
    while (size_t n = decoder.decode_next())
        result.append(decoder.get_buffer_begin(), n);
    return result;
}

// Writes data through an encoder stream in pieces of `piece` bytes (0: one write), flushes and
// destroys the stream.
template <class Codec>
std::string Encode(const std::string& data, typename Codec::EncoderProperties properties = {}, size_t piece = 0)
{
    std::ostringstream out;
    {
        basic_compression_encoder_stream<char> stream(properties, out, std::make_shared<typename Codec::Encoder>());
        piece = piece ? piece : std::max<size_t>(data.size(), 1);
        for (size_t pos = 0; pos < data.size(); pos += piece)
            stream.write(data.data() + pos, static_cast<std::streamsize>(std::min(piece, data.size() - pos)));
        stream.flush();
        EXPECT_TRUE(stream.good());
    }
    return out.str();
}

template <class Codec>
std::string Decode(const std::string& compressed)
{
    std::istringstream in(compressed);
    typename Codec::DecoderProperties properties;
    basic_compression_decoder_stream<char> stream(std::make_shared<typename Codec::Decoder>(), properties, in);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

} // namespace codectest
