// The deflate and bzip2 codecs driven directly: counters, the end of their streams, what they
// leave of their input, and how they meet refused settings and damaged data.
#include "CodecTestSupport.h"

#include <bzlib.h>
#include <zlib.h>

using namespace codectest;

template <class Codec>
class CompressingCodec : public ::testing::Test
{
public:
    static std::string EncodeDirect(const std::string& data, typename Codec::EncoderProperties properties = {})
    {
        std::ostringstream out;
        typename Codec::Encoder encoder;
        encoder.init(out, properties);
        EncodeInBlocks(encoder, data);
        return out.str();
    }

    // Settings the compression library refuses (they bypassed normalisation).
    static typename Codec::EncoderProperties Refused()
    {
        typename Codec::EncoderProperties properties;
        if constexpr (std::is_same_v<Codec, DeflateCodec>)
            properties.CompressionLevel = 42;
        else
            properties.BlockSize = 0;
        return properties;
    }

    // The library's own answers that a failure must keep: to refused settings, to data that
    // is no compressed stream at all, and to a stream cut short.
    static constexpr bool IsDeflate = std::is_same_v<Codec, DeflateCodec>;
    static constexpr int RefusedResult = IsDeflate ? Z_STREAM_ERROR : BZ_PARAM_ERROR;
    static constexpr int GarbageResult = IsDeflate ? Z_DATA_ERROR : BZ_DATA_ERROR_MAGIC;
    static constexpr int TruncatedResult = IsDeflate ? Z_BUF_ERROR : BZ_UNEXPECTED_EOF;
};
using CompressingCodecs = ::testing::Types<DeflateCodec, Bzip2Codec>;
TYPED_TEST_SUITE(CompressingCodec, CompressingCodecs);

TYPED_TEST(CompressingCodec, CountersAndRepeatedEnd)
{
    const std::string data = testutil::CompressibleData(100000, 7); // 3 full blocks + 1696
    std::ostringstream out;
    typename TypeParam::Encoder encoder;
    EXPECT_FALSE(encoder.is_initialized());
    encoder.init_with_defaults(out);
    EncodeInBlocks(encoder, data);
    const std::string compressed = out.str();
    EXPECT_EQ(encoder.get_bytes_read(), data.size());
    EXPECT_EQ(encoder.get_bytes_written(), compressed.size());
    // The last block gave the library state and the buffers back.
    EXPECT_FALSE(encoder.holds_working_memory());
    EXPECT_EQ(encoder.get_buffer_begin(), nullptr);

    // Hand-overs after the end (a flush, then the stream's destruction), even of a full
    // block's count, add nothing and touch no buffer.
    encoder.encode_next(0);
    encoder.encode_next(32768);
    EXPECT_TRUE(out.str() == compressed);
    EXPECT_FALSE(encoder.failed());
    EXPECT_EQ(encoder.library_result(), 0);

    std::istringstream in(compressed);
    typename TypeParam::Decoder decoder;
    decoder.init_with_defaults(in);
    EXPECT_TRUE(DecodeAll(decoder) == data);
    EXPECT_EQ(decoder.get_bytes_read(), compressed.size());
    EXPECT_EQ(decoder.get_bytes_written(), data.size());
    EXPECT_FALSE(decoder.failed());
    EXPECT_FALSE(decoder.holds_working_memory());

    // A second init starts over.
    std::ostringstream again;
    encoder.init_with_defaults(again);
    EXPECT_EQ(encoder.get_bytes_read(), 0u);
    EXPECT_TRUE(encoder.holds_working_memory());
    EncodeInBlocks(encoder, data);
    EXPECT_TRUE(again.str() == compressed);
}

TYPED_TEST(CompressingCodec, InputStandsOnTheFirstByteAfterTheData)
{
    // With 32768 bytes the compressed stream ends exactly as the first output buffer fills;
    // the unused input must be given back once, not again on the following call.
    for (size_t size : {32768, 0, 1000, 300000})
    {
        SCOPED_TRACE(size);
        const std::string data = testutil::RandomData(size, 8);
        const std::string compressed = this->EncodeDirect(data);
        std::istringstream in(compressed + "TRAILER");
        typename TypeParam::Decoder decoder;
        decoder.init_with_defaults(in);
        EXPECT_TRUE(DecodeAll(decoder) == data);
        EXPECT_EQ(decoder.decode_next(), 0u);
        ASSERT_TRUE(in.good());
        EXPECT_EQ(static_cast<size_t>(in.tellg()), compressed.size());
    }
}

TYPED_TEST(CompressingCodec, DamagedOrTruncatedDataEndsTheData)
{
    typename TypeParam::EncoderProperties properties;
    if constexpr (std::is_same_v<TypeParam, Bzip2Codec>)
        properties.BlockSize = 1; // several bzip2 blocks
    const std::string data = testutil::CompressibleData(250000, 9);
    const std::string compressed = this->EncodeDirect(data, properties);
    EXPECT_TRUE(Decode<TypeParam>(compressed) == data);

    // Cut short: a prefix of the data, then the end, reported as a failure.
    for (size_t cut : {size_t(0), size_t(3), compressed.size() / 2, compressed.size() - 1})
    {
        std::istringstream in(compressed.substr(0, cut));
        typename TypeParam::Decoder decoder;
        decoder.init_with_defaults(in);
        const std::string result = DecodeAll(decoder);
        EXPECT_EQ(data.compare(0, result.size(), result), 0);
        EXPECT_TRUE(decoder.failed());
        EXPECT_EQ(decoder.library_result(), this->TruncatedResult);
        EXPECT_EQ(decoder.decode_next(), 0u);
        EXPECT_FALSE(decoder.holds_working_memory());
    }

    // A flipped byte anywhere, or no compressed data at all: the data ends; no hang, no crash.
    // Whatever the end, the memory is given back, and a failure comes with the library's cause.
    for (size_t pos = 0; pos < compressed.size(); pos += 101)
    {
        SCOPED_TRACE(pos);
        std::string damaged = compressed;
        damaged[pos] = static_cast<char>(damaged[pos] ^ 0x5A);
        std::istringstream in(damaged);
        typename TypeParam::Decoder decoder;
        decoder.init_with_defaults(in);
        DecodeAll(decoder);
        EXPECT_EQ(decoder.decode_next(), 0u);
        EXPECT_EQ(decoder.failed(), decoder.library_result() != 0);
        EXPECT_FALSE(decoder.holds_working_memory());
    }
    std::istringstream garbage(testutil::RandomData(100000, 10));
    typename TypeParam::Decoder decoder;
    decoder.init_with_defaults(garbage);
    DecodeAll(decoder);
    EXPECT_TRUE(decoder.failed());
    EXPECT_EQ(decoder.library_result(), this->GarbageResult);
    EXPECT_FALSE(decoder.holds_working_memory());
}

TYPED_TEST(CompressingCodec, RefusedStartFailsTheStreamInsteadOfWritingNothing)
{
    auto properties = this->Refused();
    auto encoder = std::make_shared<typename TypeParam::Encoder>();
    std::ostringstream out;
    {
        basic_compression_encoder_stream<char> stream(properties, out, encoder);
        stream << "some data";
        stream.flush();
        EXPECT_TRUE(stream.bad());
    }
    EXPECT_TRUE(encoder->failed());
    EXPECT_EQ(encoder->library_result(), this->RefusedResult);
    EXPECT_FALSE(encoder->holds_working_memory());
    EXPECT_TRUE(out.str().empty());
}

TEST(DeflateCodecDecoder, InflatesCompressibleDataWithoutRereading)
{
    const std::string data(1000000, '\0');
    const std::string compressed = CompressingCodec<DeflateCodec>::EncodeDirect(data);
    ASSERT_LT(compressed.size(), 32768u);
    std::istringstream in(compressed);
    basic_deflate_decoder<char> decoder;
    decoder.init_with_defaults(in);
    for (int i = 0; i < 30; ++i)
    {
        ASSERT_EQ(decoder.decode_next(), 32768u);
        EXPECT_EQ(decoder.get_bytes_read(), compressed.size());
    }
    EXPECT_EQ(DecodeAll(decoder).size(), data.size() - 30 * 32768);
}
