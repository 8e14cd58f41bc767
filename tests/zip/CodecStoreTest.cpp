#include "CodecTestSupport.h"

using namespace codectest;

TEST(StoreCodec, EncoderCopiesBlocksUnchanged)
{
    const std::string data = testutil::RandomData(70000, 1); // 32768 + 32768 + 4464
    std::ostringstream out;
    basic_store_encoder<char> encoder;
    EXPECT_FALSE(encoder.is_initialized());
    encoder.init_with_defaults(out);
    EncodeInBlocks(encoder, data);
    EXPECT_TRUE(out.str() == data);
    EXPECT_EQ(encoder.get_bytes_read(), 70000u);
    EXPECT_EQ(encoder.get_bytes_written(), 70000u);

    std::ostringstream again;
    encoder.init_with_defaults(again);
    EXPECT_EQ(encoder.get_bytes_read(), 0u);
    EncodeInBlocks(encoder, std::string(65536, 'a')); // ends with encode_next(0)
    EXPECT_EQ(again.str(), std::string(65536, 'a'));
}

TEST(StoreCodec, DecoderHandsOutBlocksThenTheEnd)
{
    std::istringstream in(testutil::RandomData(40000, 2));
    basic_store_decoder<char> decoder;
    EXPECT_FALSE(decoder.is_initialized());
    decoder.init_with_defaults(in);
    EXPECT_EQ(decoder.decode_next(), 32768u);
    EXPECT_EQ(decoder.decode_next(), 7232u);
    EXPECT_EQ(decoder.get_buffer_end() - decoder.get_buffer_begin(), 7232);
    EXPECT_EQ(decoder.decode_next(), 0u);
    EXPECT_EQ(decoder.decode_next(), 0u);
    EXPECT_EQ(decoder.get_bytes_read(), 40000u);
}

TEST(StoreCodec, ZeroCapacityStillMovesData)
{
    store_encoder_properties encoderProperties;
    encoderProperties.BufferCapacity = 0;
    EXPECT_EQ(Encode<StoreCodec>("abc", encoderProperties), "abc");

    store_decoder_properties decoderProperties;
    decoderProperties.BufferCapacity = 0;
    std::istringstream in("abc");
    basic_store_decoder<char> decoder;
    decoder.init(in, decoderProperties);
    EXPECT_EQ(DecodeAll(decoder), "abc");
}

TEST(CodecProperties, NormalizeClampsToTheLibrariesRanges)
{
    const std::pair<int32_t, int32_t> levels[] = {{6, 6}, {-3, 0}, {12, 9}};
    for (auto [in, out] : levels)
    {
        deflate_encoder_properties deflate;
        deflate.CompressionLevel = in;
        deflate.normalize();
        EXPECT_EQ(deflate.CompressionLevel, out);
    }
    const std::pair<int32_t, int32_t> blockSizes[] = {{6, 6}, {0, 1}, {-5, 1}, {10, 9}};
    const std::pair<int32_t, int32_t> workFactors[] = {{30, 30}, {-1, 0}, {300, 250}};
    for (auto [in, out] : blockSizes)
    {
        bzip2_encoder_properties bzip2;
        bzip2.BlockSize = in;
        bzip2.normalize();
        EXPECT_EQ(bzip2.BlockSize, out);
    }
    for (auto [in, out] : workFactors)
    {
        bzip2_encoder_properties bzip2;
        bzip2.WorkFactor = in;
        bzip2.normalize();
        EXPECT_EQ(bzip2.WorkFactor, out);
    }
}
