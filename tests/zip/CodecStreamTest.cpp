#include "CodecTestSupport.h"

#include <random>
#include <stdexcept>
#include <vector>

using namespace codectest;

namespace {

// An encoder that records every hand-over and offers blocks of chosen sizes (0: no block).
class RecordingEncoder : public compression_encoder_interface_basic<char>
{
public:
    explicit RecordingEncoder(std::vector<size_t> sizes) : sizes(std::move(sizes)) {}

    std::vector<std::string> blocks;
    int syncs = 0;
    bool fail = false;
    bool throwOnSync = false;

    bool is_initialized() const override { return output != nullptr; }
    size_t get_bytes_read() const override { return 0; }
    size_t get_bytes_written() const override { return 0; }
    char* get_buffer_begin() override { return current() ? buffer.data() : nullptr; }
    char* get_buffer_end() override { return current() ? buffer.data() + current() : nullptr; }
    bool failed() const override { return fail; }
    void init(std::ostream& stream, compression_encoder_properties_interface&) override { output = &stream; }
    void init_with_defaults(std::ostream& stream) override { output = &stream; }
    void encode_next(size_t n) override
    {
        blocks.emplace_back(buffer.data(), n);
        ++offered;
    }
    void sync() override
    {
        ++syncs;
        if (throwOnSync)
            throw std::runtime_error("sync");
    }

private:
    size_t current() const { return sizes[std::min(offered, sizes.size() - 1)]; }
    std::vector<size_t> sizes;
    size_t offered = 0;
    std::vector<char> buffer = std::vector<char>(1024);
    std::ostream* output = nullptr;
};

struct Sink
{
    std::ostringstream out;
    store_encoder_properties properties;
};

std::vector<std::string> Strings(std::initializer_list<const char*> list)
{
    return std::vector<std::string>(list.begin(), list.end());
}

} // namespace

TEST(CompressionEncoderStream, HandsOverFullBlocksAndEndsWithAShortOne)
{
    Sink sink;
    // One byte short of a block: nothing is handed over until the flush; nothing after it.
    auto shortBlock = std::make_shared<RecordingEncoder>(std::vector<size_t>{8});
    basic_compression_encoder_stream<char> stream(sink.properties, sink.out, shortBlock);
    stream << "1234567";
    EXPECT_TRUE(shortBlock->blocks.empty());
    stream.flush();
    EXPECT_TRUE(stream.good());
    stream << "after the end";
    EXPECT_TRUE(stream.bad());
    EXPECT_EQ(shortBlock->blocks, Strings({"1234567"}));

    // Exactly one block: the last byte completes it in place; the flush then ends with 0 bytes,
    // and the destruction syncs again without a further block.
    auto exact = std::make_shared<RecordingEncoder>(std::vector<size_t>{8});
    {
        basic_compression_encoder_stream<char> s(sink.properties, sink.out, exact);
        s << "12345678";
        EXPECT_EQ(exact->blocks, Strings({"12345678"}));
        s.flush();
    }
    EXPECT_EQ(exact->blocks, Strings({"12345678", ""}));
    EXPECT_EQ(exact->syncs, 2);

    // Byte by byte or in one write, destroyed without a flush, with the block size the codec
    // offers after each hand-over (a one-byte block is the reserved byte alone).
    const std::vector<size_t> sizes{5, 3, 7, 1};
    auto single = std::make_shared<RecordingEncoder>(sizes);
    auto bulk = std::make_shared<RecordingEncoder>(sizes);
    {
        basic_compression_encoder_stream<char> a(sink.properties, sink.out, single);
        basic_compression_encoder_stream<char> b(sink.properties, sink.out, bulk);
        for (char c : std::string("abcdefghijklmnopq"))
            a.put(c);
        b << "abcdefghijklmnopq";
    }
    EXPECT_EQ(bulk->blocks, Strings({"abcde", "fgh", "ijklmno", "p", "q", ""}));
    EXPECT_EQ(single->blocks, bulk->blocks);
}

TEST(CompressionEncoderStream, CodecTroubleShowsInTheStreamStateNeverAsACrash)
{
    Sink sink;
    // No block at all (a codec whose worker failed at the start).
    auto none = std::make_shared<RecordingEncoder>(std::vector<size_t>{0});
    {
        basic_compression_encoder_stream<char> stream(sink.properties, sink.out, none);
        stream << "lost";
        EXPECT_TRUE(stream.bad());
    }
    EXPECT_EQ(none->blocks, Strings({""}));

    // The block disappears after the first hand-over: the rest is refused, not written anywhere.
    auto vanishing = std::make_shared<RecordingEncoder>(std::vector<size_t>{4, 0});
    {
        basic_compression_encoder_stream<char> stream(sink.properties, sink.out, vanishing);
        stream << "abcdefgh";
        EXPECT_TRUE(stream.bad());
    }
    EXPECT_EQ(vanishing->blocks, Strings({"abcd", ""}));

    // A codec that reports failure fails the flush; one that throws does not get past the
    // destructor.
    auto failing = std::make_shared<RecordingEncoder>(std::vector<size_t>{8});
    failing->fail = true;
    failing->throwOnSync = true;
    EXPECT_NO_THROW({
        basic_compression_encoder_stream<char> stream(sink.properties, sink.out, failing);
        stream << "abc";
        stream.flush();
        EXPECT_TRUE(stream.bad());
    });
    EXPECT_EQ(failing->syncs, 2);
}

namespace {

// A decoder that hands out the given pieces, then the end.
class ScriptedDecoder : public compression_decoder_interface_basic<char>
{
public:
    explicit ScriptedDecoder(std::vector<std::string> pieces) : pieces(std::move(pieces)) {}
    int calls = 0;

    bool is_initialized() const override { return true; }
    size_t get_bytes_read() const override { return 0; }
    size_t get_bytes_written() const override { return 0; }
    char* get_buffer_begin() override { return current.data(); }
    char* get_buffer_end() override { return current.data() + current.size(); }
    void init(std::istream&, compression_decoder_properties_interface&) override {}
    void init_with_defaults(std::istream&) override {}
    size_t decode_next() override
    {
        ++calls;
        current = next < pieces.size() ? pieces[next++] : std::string();
        return current.size();
    }

private:
    std::vector<std::string> pieces;
    std::string current;
    size_t next = 0;
};

} // namespace

TEST(CompressionDecoderStream, ReadsPiecesAndStaysAtTheEnd)
{
    std::istringstream source;
    store_decoder_properties properties;
    auto decoder = std::make_shared<ScriptedDecoder>(Strings({"abc", "d", "efgh"}));
    basic_compression_decoder_stream<char> stream(decoder, properties, source);
    std::string text;
    stream >> text;
    EXPECT_EQ(text, "abcdefgh");
    EXPECT_TRUE(stream.eof());
    stream.clear();
    EXPECT_EQ(stream.get(), EOF);
    stream.clear();
    EXPECT_EQ(stream.get(), EOF);
    EXPECT_EQ(decoder->calls, 6); // every read after the end asks the decoder again
}

// Every codec round-trips through both stream buffers at the block boundaries.
template <class Codec>
class CodecRoundTrip : public ::testing::Test
{
};
using Codecs = ::testing::Types<StoreCodec, DeflateCodec, Bzip2Codec>;
TYPED_TEST_SUITE(CodecRoundTrip, Codecs);

TYPED_TEST(CodecRoundTrip, BoundarySizesAndLargeData)
{
    std::vector<std::string> samples;
    for (size_t size : {0, 1, 32767, 32768, 32769, 65536, 98304, 98305})
        samples.push_back(testutil::RandomData(size, static_cast<uint32_t>(size)));
    samples.push_back(testutil::CompressibleData(3 * 1024 * 1024, 11));
    samples.push_back(testutil::RandomData(2 * 1024 * 1024, 12));
    for (const auto& data : samples)
    {
        SCOPED_TRACE(data.size());
        const std::string compressed = Encode<TypeParam>(data);
        EXPECT_TRUE(Decode<TypeParam>(compressed) == data);
        if (data.size() < 100000)
        {
            // Written in odd pieces, the output is the same.
            EXPECT_TRUE(Encode<TypeParam>(data, {}, 1000) == compressed);
        }
    }
}

TYPED_TEST(CodecRoundTrip, SpentCodecsKeepOnlyTheirCounters)
{
    // Over many sizes and block sizes (one byte to the default, so from a single hand-over to
    // thousands): once its stream has ended, each side has given its buffers and library state
    // back, yet the data are whole, the last piece handed out was still there to be read, and
    // the counters stay readable.
    std::mt19937 rng(21);
    for (int round = 0; round < 80; ++round)
    {
        const size_t capacity = std::vector<size_t>{1, 7, 512, 32768}[round % 4];
        const size_t size = rng() % (capacity < 32768 ? 6 * capacity + 2 : 120000);
        const std::string data = round % 2 ? testutil::RandomData(size, rng()) : testutil::CompressibleData(size, rng());
        SCOPED_TRACE(std::to_string(capacity) + " / " + std::to_string(size));

        typename TypeParam::EncoderProperties encoderProperties;
        encoderProperties.BufferCapacity = capacity;
        auto encoder = std::make_shared<typename TypeParam::Encoder>();
        std::ostringstream out;
        {
            basic_compression_encoder_stream<char> stream(encoderProperties, out, encoder);
            stream.write(data.data(), static_cast<std::streamsize>(data.size()));
            stream.flush();
            EXPECT_TRUE(stream.good());
        }
        EXPECT_FALSE(encoder->holds_working_memory());
        EXPECT_EQ(encoder->get_buffer_begin(), nullptr);
        EXPECT_EQ(encoder->get_bytes_read(), data.size());
        EXPECT_EQ(encoder->get_bytes_written(), out.str().size());

        typename TypeParam::DecoderProperties decoderProperties;
        decoderProperties.BufferCapacity = capacity;
        typename TypeParam::Decoder decoder;
        std::istringstream in(out.str());
        decoder.init(in, decoderProperties);
        ASSERT_TRUE(DecodeAll(decoder) == data);
        EXPECT_FALSE(decoder.holds_working_memory());
        EXPECT_FALSE(decoder.failed());
        EXPECT_EQ(decoder.get_bytes_written(), data.size());
        EXPECT_EQ(decoder.decode_next(), 0u);
    }
}

TYPED_TEST(CodecRoundTrip, ByteByByteReadingAndFinalCounters)
{
    const std::string data = testutil::CompressibleData(65536, 13);
    std::ostringstream out;
    typename TypeParam::EncoderProperties encoderProperties;
    auto encoder = std::make_shared<typename TypeParam::Encoder>();
    size_t read = 0, written = 0;
    {
        basic_compression_encoder_stream<char> stream(encoderProperties, out, encoder);
        stream.write(data.data(), static_cast<std::streamsize>(data.size()));
        stream.flush();
        read = encoder->get_bytes_read();
        written = encoder->get_bytes_written();
    } // the destruction's second hand-over adds nothing
    EXPECT_EQ(read, data.size());
    EXPECT_EQ(written, out.str().size());
    EXPECT_EQ(encoder->get_bytes_written(), written);

    std::istringstream source(out.str());
    typename TypeParam::DecoderProperties decoderProperties;
    basic_compression_decoder_stream<char> stream(std::make_shared<typename TypeParam::Decoder>(),
                                                  decoderProperties, source);
    std::string bytes;
    for (int c; (c = stream.get()) != EOF;)
        bytes.push_back(static_cast<char>(c));
    EXPECT_TRUE(bytes == data);
    EXPECT_EQ(stream.get(), EOF);
}
