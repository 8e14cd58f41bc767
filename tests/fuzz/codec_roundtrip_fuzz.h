#pragma once
// The codec targets: data chosen by the fuzzer are encoded through a method's encoder stream
// (with fuzz-chosen encoder settings and write sizes) and decoded again, either through the
// decoder stream or by driving the decoder directly with a fuzz-chosen buffer capacity. The
// decoded bytes must be the data. The LZMA codec alone knows no size: its stream has no end
// marker, so it may decode surplus bytes after the data, but never fewer, and its output
// begins with the data.
//
// Input: the encoder settings (per codec), the write size (2 bytes), the decoding path (1),
// the decoder capacity (2), the read size (2), then the data (see MakeData).
#include "tests/fuzz/fuzz_support.h"
#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/StoreMethod.h"
#include "zip/compression_decoder_stream.h"
#include "zip/compression_encoder_stream.h"

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

namespace fuzzing {

namespace codec_roundtrip {

// Largest data a codec input makes, and how far past it a decoder may run before it is cut.
constexpr size_t DataLimit = 1u << 20;
constexpr size_t SurplusBudget = 1u << 20;

struct StoreCase
{
    using Method = StoreMethod;
    static constexpr const char* Target = "store_codec";
    static constexpr bool MayDecodeSurplus = false;
    static std::string Configure(Method& method, FuzzInput& input)
    {
        auto& properties = method.GetEncoderProperties();
        properties.BufferCapacity = 1 + input.Number(65535);
        return "capacity " + std::to_string(properties.BufferCapacity);
    }
};

struct DeflateCase
{
    using Method = DeflateMethod;
    static constexpr const char* Target = "deflate_codec";
    static constexpr bool MayDecodeSurplus = false;
    static std::string Configure(Method& method, FuzzInput& input)
    {
        auto& properties = method.GetEncoderProperties();
        properties.BufferCapacity = 1 + input.Number(65535);
        // Past both ends of the valid levels, which normalisation clamps.
        properties.CompressionLevel = static_cast<int32_t>(input.Byte() % 14) - 2;
        return "capacity " + std::to_string(properties.BufferCapacity) + ", level " +
               std::to_string(properties.CompressionLevel);
    }
};

struct Bzip2Case
{
    using Method = Bzip2Method;
    static constexpr const char* Target = "bzip2_codec";
    static constexpr bool MayDecodeSurplus = false;
    static std::string Configure(Method& method, FuzzInput& input)
    {
        auto& properties = method.GetEncoderProperties();
        properties.BufferCapacity = 1 + input.Number(65535);
        properties.BlockSize = static_cast<int32_t>(input.Byte() % 12) - 1;
        properties.WorkFactor = static_cast<int32_t>(input.Number(300)) - 20;
        return "capacity " + std::to_string(properties.BufferCapacity) + ", block size " +
               std::to_string(properties.BlockSize) + ", work factor " + std::to_string(properties.WorkFactor);
    }
};

struct LzmaCase
{
    using Method = LzmaMethod;
    static constexpr const char* Target = "lzma_codec";
    static constexpr bool MayDecodeSurplus = true;
    static std::string Configure(Method& method, FuzzInput& input)
    {
        auto& properties = method.GetEncoderProperties();
        properties.IsMultithreaded = input.Flag();
        // Levels 0 to 2 keep the dictionary at 16 to 256 KiB, so that an input runs fast.
        properties.CompressionLevel = input.Byte() % 3;
        return std::string(properties.IsMultithreaded ? "two threads" : "one thread") + ", level " +
               std::to_string(properties.CompressionLevel);
    }
};

// Decodes through the decoder stream that the read pipeline uses, in reads of `chunk` bytes.
template <class Case>
std::string DecodeThroughStream(typename Case::Method& method, std::istream& compressed, size_t chunk, size_t budget)
{
    basic_compression_decoder_stream<char> stream(method.GetDecoder(), method.GetDecoderProperties(), compressed);
    return Drain(&stream, budget, chunk);
}

// Drives the decoder directly with its own buffer capacity; false when a block breaks the
// codec contract (larger than the capacity, or not what get_buffer_end says).
template <class Case>
bool DecodeDirectly(typename Case::Method& method, std::istream& compressed, size_t capacity, size_t budget,
                    std::string& decoded)
{
    auto decoder = method.GetDecoder();
    auto properties = method.GetDecoderProperties();
    properties.BufferCapacity = capacity;
    decoder->init(compressed, properties);
    while (decoded.size() < budget)
    {
        const size_t count = decoder->decode_next();
        if (count == 0)
            break;
        const char* begin = decoder->get_buffer_begin();
        const char* end = decoder->get_buffer_end();
        if (count > capacity)
            return Fail(Case::Target, "decoder block", std::to_string(count) + " bytes from a buffer of " +
                                                           std::to_string(capacity));
        if (!begin || end - begin != static_cast<std::ptrdiff_t>(count))
            return Fail(Case::Target, "decoder buffer", "the buffer does not span the " + std::to_string(count) +
                                                            " bytes decode_next reported");
        decoded.append(begin, count);
    }
    if (decoder->get_bytes_written() != decoded.size())
        return Fail(Case::Target, "decoder count", "get_bytes_written says " +
                                                       std::to_string(decoder->get_bytes_written()) + ", produced " +
                                                       std::to_string(decoded.size()));
    return true;
}

template <class Case>
bool RoundTrip(const uint8_t* bytes, size_t size)
{
    FuzzInput input(bytes, size);
    auto method = std::make_shared<typename Case::Method>();
    const std::string settings = Case::Configure(*method, input);
    const size_t writeSize = 1 + input.Number(65535);
    const bool direct = input.Flag();
    const size_t decoderCapacity = 1 + input.Number(65535);
    const size_t readSize = 1 + input.Number(65535);
    std::string data = MakeData(input, DataLimit);
    data += input.Rest();
    const std::string how = settings + ", writes of " + std::to_string(writeSize) + ", " +
                            (direct ? "decoder capacity " + std::to_string(decoderCapacity)
                                    : "stream reads of " + std::to_string(readSize)) +
                            ", " + std::to_string(data.size()) + " bytes";

    std::stringstream compressed(std::ios::in | std::ios::out | std::ios::binary);
    auto encoder = method->GetEncoder();
    {
        basic_compression_encoder_stream<char> stream(method->GetEncoderProperties(), compressed, encoder);
        for (size_t at = 0; at < data.size(); at += writeSize)
            stream.write(data.data() + at, static_cast<std::streamsize>(std::min(writeSize, data.size() - at)));
        stream.flush();
        if (!stream.good() || encoder->failed())
            return Fail(Case::Target, "encoding", how + ": the encoder failed, library result " +
                                                      std::to_string(encoder->library_result()));
    }
    const std::string encoded = compressed.str();
    if (encoder->get_bytes_read() != data.size())
        return Fail(Case::Target, "encoder input count", how + ": get_bytes_read says " +
                                                             std::to_string(encoder->get_bytes_read()));
    // Finishing twice (flush, then destruction) must not have added anything.
    if (encoder->get_bytes_written() != encoded.size())
        return Fail(Case::Target, "encoder output count", how + ": get_bytes_written says " +
                                                              std::to_string(encoder->get_bytes_written()) +
                                                              ", the output holds " + std::to_string(encoded.size()));

    const size_t budget = data.size() + SurplusBudget;
    std::string decoded;
    if (direct)
    {
        if (!DecodeDirectly<Case>(*method, compressed, decoderCapacity, budget, decoded))
            return false;
    }
    else
    {
        decoded = DecodeThroughStream<Case>(*method, compressed, readSize, budget);
    }

    if (Case::MayDecodeSurplus)
    {
        if (decoded.size() < data.size() || decoded.compare(0, data.size(), data) != 0)
            return Fail(Case::Target, "decoded data", how + ": " + Difference(data, decoded.substr(0, data.size())) +
                                                          " (" + std::to_string(decoded.size()) + " decoded in all)");
    }
    else if (decoded != data)
    {
        return Fail(Case::Target, "decoded data", how + ": " + Difference(data, decoded));
    }
    if (!Case::MayDecodeSurplus && method->GetDecoder()->failed())
        return Fail(Case::Target, "decoder state", how + ": the decoder reports a failure on its own output");
    return true;
}

} // namespace codec_roundtrip

inline bool StoreCodecOneInput(const uint8_t* data, size_t size)
{
    return codec_roundtrip::RoundTrip<codec_roundtrip::StoreCase>(data, size);
}

inline bool DeflateCodecOneInput(const uint8_t* data, size_t size)
{
    return codec_roundtrip::RoundTrip<codec_roundtrip::DeflateCase>(data, size);
}

inline bool Bzip2CodecOneInput(const uint8_t* data, size_t size)
{
    return codec_roundtrip::RoundTrip<codec_roundtrip::Bzip2Case>(data, size);
}

inline bool LzmaCodecOneInput(const uint8_t* data, size_t size)
{
    return codec_roundtrip::RoundTrip<codec_roundtrip::LzmaCase>(data, size);
}

} // namespace fuzzing
