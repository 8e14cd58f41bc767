// The LZMA codec: round trips through the stream buffers, the ZIP framing, streams of other
// writers, damaged input, a dictionary that grows with the data instead of with the header's
// word and goes once the data have ended, and an encoder thread that never leaves anybody
// waiting.
#include "zip/compression_decoder_stream.h"
#include "zip/compression_encoder_stream.h"
#include "zip/lzma_decoder.h"
#include "zip/lzma_encoder.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <LzmaDec.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using testutil::CompressibleData;
using testutil::RandomData;

lzma_encoder_properties Level(int32_t level)
{
    lzma_encoder_properties props;
    props.CompressionLevel = level;
    return props;
}

std::string Encode(const std::string& data, lzma_encoder_properties props = {}, size_t* bytesRead = nullptr)
{
    std::ostringstream out;
    auto encoder = std::make_shared<lzma_encoder>();
    {
        basic_compression_encoder_stream<char> stream(props, out, encoder);
        stream.write(data.data(), static_cast<std::streamsize>(data.size()));
        stream.flush();
        EXPECT_TRUE(stream.good());
    }
    EXPECT_EQ(encoder->get_bytes_written(), out.str().size());
    if (bytesRead)
        *bytesRead = encoder->get_bytes_read();
    return out.str();
}

// Through the stream buffer without a size, as the codec alone decodes: a stream without end
// marker may give trailing zero bytes past the data.
std::string Decode(const std::string& compressed)
{
    std::istringstream in(compressed);
    lzma_decoder_properties props;
    basic_compression_decoder_stream<char> stream(std::make_shared<lzma_decoder>(), props, in);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// As an archive entry is read: the decoder knows the size, the stream delivers no more.
std::string DecodeSized(const std::string& compressed, size_t size)
{
    std::istringstream in(compressed);
    lzma_decoder_properties props;
    auto decoder = std::make_shared<lzma_decoder>();
    basic_compression_decoder_stream<char> stream(decoder, props, in);
    decoder->set_expected_size(size);
    stream.set_limit(size);
    std::string out(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>{});
    EXPECT_FALSE(stream.exceeded_limit());
    return out;
}

bool BeginsWith(const std::string& text, const std::string& start)
{
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

constexpr size_t kNoSize = ~size_t{0};

// Straight through the codec interface, with a chosen output buffer size and, unless kNoSize,
// the expected size.
std::string DecodeDirect(lzma_decoder& decoder, const std::string& compressed, size_t capacity,
                         size_t size = kNoSize)
{
    std::istringstream in(compressed);
    lzma_decoder_properties props;
    props.BufferCapacity = capacity;
    decoder.init(in, props);
    if (size != kNoSize)
        decoder.set_expected_size(size);
    std::string out;
    while (size_t n = decoder.decode_next())
        out.append(decoder.get_buffer_begin(), n);
    EXPECT_FALSE(decoder.holds_working_memory());
    return out;
}

// An output that takes a limited number of bytes and then fails, as a full disk does.
class LimitedBuffer : public std::streambuf
{
public:
    explicit LimitedBuffer(size_t room) : room(room) {}
    std::string data;

protected:
    int_type overflow(int_type c) override
    {
        const char ch = traits_type::to_char_type(c);
        return traits_type::eq_int_type(c, traits_type::eof()) || xsputn(&ch, 1) == 1 ? traits_type::not_eof(c)
                                                                                       : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        const size_t k = std::min(room, static_cast<size_t>(n));
        data.append(s, k);
        room -= k;
        return static_cast<std::streamsize>(k);
    }

private:
    size_t room;
};

} // namespace

TEST(LzmaCodec, HeaderAndEmptyStream)
{
    size_t bytesRead = 1;
    const std::string empty = Encode("", {}, &bytesRead);
    EXPECT_EQ(empty.substr(0, 9), std::string("\x09\x16\x05\x00\x5D\x00\x00\x00\x01", 9));
    EXPECT_EQ(bytesRead, 0u);
    EXPECT_EQ(Decode(empty), "");
    EXPECT_EQ(DecodeSized(empty, 0), "");
    // The level given is the one used: level 1 has a 64 KiB dictionary.
    EXPECT_EQ(Encode("abc", Level(1)).substr(5, 4), std::string("\x00\x00\x01\x00", 4));
}

TEST(LzmaCodec, RoundTripsThroughStreamBuffers)
{
    // The SDK asks for blocks of its own size (about 600 KiB at level 1): learn the first one
    // to hit its boundaries and exact multiples; several MiB span many blocks.
    size_t block = 0;
    {
        std::ostringstream sink;
        lzma_encoder encoder;
        auto fast = Level(1);
        encoder.init(sink, fast);
        block = static_cast<size_t>(encoder.get_buffer_end() - encoder.get_buffer_begin());
        encoder.sync();
    }
    ASSERT_GT(block, 65536u);
    struct Sample
    {
        std::string data;
        int32_t level;
    };
    std::vector<Sample> samples;
    for (size_t size : {size_t{1}, size_t{32767}, size_t{32768}, size_t{32769}, size_t{65536}})
        samples.push_back({CompressibleData(size, static_cast<uint32_t>(size)), 5});
    for (size_t size : {block - 1, block, block + 1, 2 * block, 3 * block + 17})
        samples.push_back({CompressibleData(size, static_cast<uint32_t>(size)), 1});
    samples.push_back({CompressibleData(6 << 20, 8), 1});
    samples.push_back({RandomData(5 << 20, 7), 1});
    for (const Sample& sample : samples)
    {
        SCOPED_TRACE(sample.data.size());
        size_t bytesRead = 0;
        const std::string encoded = Encode(sample.data, Level(sample.level), &bytesRead);
        EXPECT_EQ(bytesRead, sample.data.size());
        EXPECT_TRUE(DecodeSized(encoded, sample.data.size()) == sample.data);
        EXPECT_TRUE(BeginsWith(Decode(encoded), sample.data));
    }
}

TEST(LzmaCodec, StreamsWithoutEndMarkerEndWithTheirData)
{
    // Past the last real byte the range decoder may go on making up zero bytes from no input.
    // Knowing the size, data of every kind and length come back exact, whatever the output
    // buffer size, and the working memory goes with the call that gives the last byte. Not
    // knowing it, the decoder never stops short.
    std::mt19937 rng(5);
    lzma_decoder decoder;
    for (int round = 0; round < 300; ++round)
    {
        const size_t size = rng() % 3000;
        std::string data = round % 3 == 0 ? RandomData(size, rng()) : CompressibleData(size, rng());
        if (round % 3 == 2)
            std::replace_if(data.begin(), data.end(), [&](char) { return rng() % 300 != 0; }, '\0');
        const std::string stream = Encode(data, Level(static_cast<int32_t>(rng() % 3)));
        const size_t capacity = std::vector<size_t>{1, 7, 4096, 32768}[rng() % 4];
        ASSERT_TRUE(BeginsWith(DecodeDirect(decoder, stream, capacity), data)) << round << " size " << size;

        std::istringstream in(stream);
        lzma_decoder_properties props;
        props.BufferCapacity = capacity;
        decoder.init(in, props);
        decoder.set_expected_size(size);
        std::string out;
        while (out.size() < size)
        {
            const size_t n = decoder.decode_next();
            ASSERT_NE(n, 0u) << round << " size " << size;
            out.append(decoder.get_buffer_begin(), n);
        }
        if (size > 0)
        {
            EXPECT_FALSE(decoder.holds_working_memory()) << round;
        }
        EXPECT_EQ(decoder.decode_next(), 0u) << round;
        EXPECT_FALSE(decoder.holds_working_memory()) << round;
        ASSERT_TRUE(out == data) << round << " size " << size;
    }
}

TEST(LzmaCodec, EncoderNeverLeavesACallerWaiting)
{
    // Destroyed with a block in hand and the data never ended.
    {
        std::ostringstream out;
        auto encoder = std::make_unique<lzma_encoder>();
        encoder->init_with_defaults(out);
        std::memset(encoder->get_buffer_begin(), 'x', 100);
        encoder.reset();
        EXPECT_EQ(Decode(out.str()), "");
    }
    // sync after a full block ends the data instead of joining a thread that waits for more;
    // later hand-overs, syncs and a second init change nothing.
    {
        std::ostringstream out;
        lzma_encoder encoder;
        auto fast = Level(1);
        encoder.init(out, fast);
        const size_t block = static_cast<size_t>(encoder.get_buffer_end() - encoder.get_buffer_begin());
        std::memset(encoder.get_buffer_begin(), 'y', block);
        encoder.encode_next(block);
        encoder.sync();
        const size_t written = encoder.get_bytes_written();
        EXPECT_EQ(encoder.get_buffer_begin(), nullptr);
        encoder.encode_next(0);
        encoder.sync();
        EXPECT_THROW(encoder.init(out, fast), std::logic_error);
        EXPECT_FALSE(encoder.failed());
        EXPECT_EQ(encoder.get_bytes_read(), block);
        EXPECT_EQ(encoder.get_bytes_written(), written);
        EXPECT_TRUE(DecodeSized(out.str(), block) == std::string(block, 'y'));
    }
}

TEST(LzmaCodec, OutputFailureEndsInStreamState)
{
    const std::string data = RandomData(300000, 5);
    // Room 0: the header cannot be written; room 100: the SDK's writes fail later. Once with
    // a silent output and once with one that throws inside the SDK's write callback.
    for (size_t room : {size_t{0}, size_t{100}})
        for (bool throws : {false, true})
        {
            SCOPED_TRACE(std::to_string(room) + (throws ? " throwing" : " silent"));
            LimitedBuffer sink(room);
            std::ostream out(&sink);
            if (throws)
                out.exceptions(std::ios::badbit);
            auto encoder = std::make_shared<lzma_encoder>();
            lzma_encoder_properties props;
            basic_compression_encoder_stream<char> stream(props, out, encoder);
            stream.write(data.data(), static_cast<std::streamsize>(data.size()));
            stream.flush();
            EXPECT_TRUE(stream.bad());
            EXPECT_TRUE(encoder->failed());
        }
}

namespace {

// The stored bytes of an archive's first member, found through its local header.
const char* const kExtractFirstMember = R"(
import struct, sys, zipfile
archive, out = sys.argv[1], sys.argv[2]
info = zipfile.ZipFile(archive).infolist()[0]
with open(archive, 'rb') as f:
    f.seek(info.header_offset)
    fields = struct.unpack('<IHHHHHIIIHH', f.read(30))
    assert fields[3] == 14, fields
    f.seek(info.header_offset + 30 + fields[9] + fields[10])
    open(out, 'wb').write(f.read(info.compress_size))
)";

// Streams with an end marker end there, size known or not, and bytes behind the marker are
// not data; the working memory goes at the marker.
void ExpectEndMarkerStreamExact(const std::string& stream, const std::string& data)
{
    EXPECT_TRUE(Decode(stream) == data);
    EXPECT_TRUE(Decode(stream + "trailing") == data);
    EXPECT_TRUE(DecodeSized(stream, data.size()) == data);
    lzma_decoder decoder;
    EXPECT_TRUE(DecodeDirect(decoder, stream + "trailing", 5000) == data);
}

} // namespace

TEST(LzmaCodec, ReadsStreamsOfOtherWriters)
{
    testutil::TempDir dir;
    const std::string data = CompressibleData(300000, 11) + RandomData(70000, 12);
    testutil::WriteFile(dir / "data.bin", data);
    auto path = [&](const char* name) { return (dir / name).string(); };

    // Python's zipfile writes an end marker.
    auto run = testutil::RunPython(
        "import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_LZMA).write(sys.argv[2], 'data.bin')\n",
        {path("py.zip"), path("data.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = testutil::RunPython(kExtractFirstMember, {path("py.zip"), path("py.lzma")});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ExpectEndMarkerStreamExact(testutil::ReadFile(dir / "py.lzma"), data);

    // And the other way: liblzma, through Python, reads what we write.
    testutil::WriteFile(dir / "ours.lzma", Encode(data));
    run = testutil::RunPython(R"(
import lzma, sys
raw = open(sys.argv[1], 'rb').read()
f = lzma._decode_filter_properties(lzma.FILTER_LZMA1, raw[4:9])
out = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[f]).decompress(raw[9:])
sys.exit(0 if out == open(sys.argv[2], 'rb').read() else 3)
)",
                              {path("ours.lzma"), path("data.bin")});
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

TEST(LzmaCodec, ReadsStreamsOf7Zip)
{
    if (!testutil::HaveTool("7z"))
        GTEST_SKIP() << "7z (Debian's p7zip-full) is not installed: 7-Zip's LZMA streams go unchecked";
    testutil::TempDir dir;
    const std::string data = CompressibleData(300000, 13) + RandomData(70000, 14);
    testutil::WriteFile(dir / "data.bin", data);
    auto run = testutil::RunCommand("cd " + testutil::ShellQuote(dir.path().string()) +
                                    " && 7z a -tzip -mm=LZMA 7z.zip data.bin");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = testutil::RunPython(kExtractFirstMember, {(dir / "7z.zip").string(), (dir / "7z.lzma").string()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ExpectEndMarkerStreamExact(testutil::ReadFile(dir / "7z.lzma"), data);
}

TEST(LzmaCodec, DamagedInputEndsTheData)
{
    const std::string data = CompressibleData(200000, 21);
    const std::string good = Encode(data);
    lzma_decoder decoder;

    // Cut short: a prefix of the data, then the end, whether the size is known or not.
    for (size_t keep : {good.size() - 1, good.size() / 2, size_t{20}, size_t{9}})
        for (size_t size : {kNoSize, data.size()})
        {
            const std::string got = DecodeDirect(decoder, good.substr(0, keep), 32768, size);
            EXPECT_LT(got.size(), data.size()) << keep;
            EXPECT_TRUE(data.compare(0, got.size(), got) == 0) << keep;
        }

    // A cut header or unsupported properties (byte 225) yield nothing; the decoder then works
    // again with a good stream.
    const std::pair<std::string, int> refused[] = {{good.substr(0, 8), SZ_ERROR_INPUT_EOF},
                                                   {std::string("\x09\x16\x05\x00\xE1", 5) + good.substr(9),
                                                    SZ_ERROR_UNSUPPORTED}};
    for (const auto& [bad, result] : refused)
    {
        EXPECT_EQ(DecodeDirect(decoder, bad, 32768), "");
        EXPECT_TRUE(decoder.failed());
        EXPECT_EQ(decoder.library_result(), result);
        EXPECT_EQ(decoder.decode_next(), 0u);
    }
    EXPECT_TRUE(DecodeDirect(decoder, good, 32768, data.size()) == data);
    EXPECT_FALSE(decoder.failed());
    EXPECT_EQ(decoder.library_result(), 0);

    // Corrupt bytes anywhere: the data ends, early or not, and nothing crashes or loops.
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round)
    {
        std::string bad = good;
        for (int flips = 1 + static_cast<int>(rng() % 8); flips > 0; --flips)
            bad[9 + rng() % (bad.size() - 9)] ^= static_cast<char>(1 + rng() % 255);
        DecodeDirect(decoder, bad, round % 2 ? 32768 : 1000);
        EXPECT_EQ(decoder.failed(), decoder.library_result() != 0);
    }

    // A dictionary of 1 byte in the header is raised to 4096: a match 4096 bytes back
    // decodes, one 4097 bytes back does not.
    auto withTinyDictionary = [](std::string stream) { return stream.replace(5, 4, std::string("\x01\0\0\0", 4)); };
    const std::string near = RandomData(4096, 31) + RandomData(4096, 31);
    const std::string far = RandomData(4097, 32) + RandomData(4096, 32);
    EXPECT_TRUE(DecodeSized(withTinyDictionary(Encode(near)), near.size()) == near);
    EXPECT_LT(DecodeSized(withTinyDictionary(Encode(far)), far.size()).size(), far.size());
}

TEST(LzmaCodec, ManySmallEncodingsFinish)
{
    for (size_t i = 0; i < 1000; ++i)
    {
        const size_t size = i == 999 ? 70000 : (i * 7919) % 70001;
        const std::string data = CompressibleData(size, static_cast<uint32_t>(i));
        // Mostly small dictionaries: the hand-over is the same and setting up is cheaper.
        auto props = Level(static_cast<int32_t>(i % 10 == 0 ? 5 : i % 5));
        props.IsMultithreaded = i % 2 == 0;
        size_t bytesRead = 0;
        const std::string encoded = Encode(data, props, &bytesRead);
        ASSERT_EQ(bytesRead, size);
        if (i % 50 == 0)
        {
            ASSERT_TRUE(DecodeSized(encoded, size) == data) << size;
        }
    }
}

namespace {

// Writes NAME.bin, data that copies earlier stretches from each given distance (once the data
// is long enough) between runs of fresh random bytes, and NAME.lzma, its raw LZMA stream made
// by liblzma with exactly the given dictionary, behind the ZIP framing.
const char* const kFarMatchScript = R"(
import lzma, random, sys
out, dict_size, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
distances = [int(d) for d in sys.argv[4].split(',')]
rng = random.Random(dict_size)
data = bytearray(rng.randbytes(4096))
while len(data) < total:
    if rng.random() < 0.3:
        data += rng.randbytes(rng.randrange(1, 200))
        continue
    d = rng.choice([d for d in distances if d <= len(data)])
    n = rng.randrange(2, 4000)
    if n <= d:
        data += data[len(data) - d:len(data) - d + n]
    else:
        for _ in range(n):
            data.append(data[-d])
lzma1 = {'id': lzma.FILTER_LZMA1, 'dict_size': dict_size, 'lc': 3, 'lp': 0, 'pb': 2, 'preset': 1}
packed = lzma.compress(bytes(data), format=lzma.FORMAT_RAW, filters=[lzma1])
props = lzma._encode_filter_properties(lzma1)
assert len(props) == 5 and int.from_bytes(props[1:], 'little') == dict_size
open(out + '.bin', 'wb').write(data)
open(out + '.lzma', 'wb').write(b'\x09\x16\x05\x00' + props + packed)
)";

std::string WithDictionarySize(std::string stream, uint32_t size)
{
    for (int i = 0; i < 4; ++i)
        stream[5 + i] = static_cast<char>(size >> (8 * i));
    return stream;
}

} // namespace

TEST(LzmaCodec, FarMatchesDecodeExactlyWhileTheDictionaryGrows)
{
    // A 64 KiB dictionary, and one of 3 MiB + 5 that the buffer reaches by growing from 1 MiB
    // (capped at an odd size) and that the data then wraps more than once. Matches reach back
    // the whole dictionary and cross the points where the buffer grew.
    constexpr uint32_t kBig = (3u << 20) + 5;
    struct Sample
    {
        uint32_t dictionary;
        size_t size;
        std::string distances;
    };
    const std::vector<Sample> samples = {
        {65536, 3u << 20, "65536,65535,65529,65000,4097,300,1"},
        {kBig, 7u << 20,
         std::to_string(kBig) + "," + std::to_string(kBig - 1) + "," + std::to_string(kBig - 7) +
             ",2097155,1048577,1048576,1048575,65536,1"},
    };
    testutil::TempDir dir;
    lzma_decoder decoder; // one decoder for all, so buffers left by a previous stream are met too
    for (const Sample& sample : samples)
    {
        SCOPED_TRACE(sample.dictionary);
        const std::string name = (dir / std::to_string(sample.dictionary)).string();
        auto run = testutil::RunPython(kFarMatchScript, {name, std::to_string(sample.dictionary),
                                                         std::to_string(sample.size), sample.distances});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const std::string data = testutil::ReadFile(name + ".bin");
        const std::string stream = testutil::ReadFile(name + ".lzma");

        EXPECT_TRUE(Decode(stream) == data);
        EXPECT_TRUE(DecodeDirect(decoder, stream, 7777) == data);
        EXPECT_EQ(decoder.get_peak_dictionary_size(), sample.dictionary);

        // The SDK's distance check still follows the declared size, not the buffer's: one
        // byte less and the farthest matches are refused.
        const std::string refused = DecodeDirect(decoder, WithDictionarySize(stream, sample.dictionary - 1), 32768);
        EXPECT_LT(refused.size(), data.size());
        EXPECT_TRUE(data.compare(0, refused.size(), refused) == 0);
        EXPECT_TRUE(decoder.failed());

        // A far larger declared dictionary decodes the same; the buffer follows the data.
        EXPECT_TRUE(DecodeDirect(decoder, WithDictionarySize(stream, 0xFFFFFFFF), 32768) == data);
        EXPECT_LE(decoder.get_peak_dictionary_size(), 2 * data.size());
    }

    // Streams of our own encoder have no end marker; declared 4 GiB, they grow the buffer
    // through several steps (1, 2, 4, 8 MiB), each crossed by matches.
    const std::string data = CompressibleData(5u << 20, 41) + RandomData(70000, 42) + CompressibleData(1u << 20, 43);
    lzma_decoder fresh;
    EXPECT_TRUE(DecodeDirect(fresh, WithDictionarySize(Encode(data, Level(1)), 0xFFFFFFFF), 32768, data.size()) ==
                data);
    EXPECT_EQ(fresh.get_peak_dictionary_size(), 8u << 20);
}

TEST(LzmaCodec, ForgedDictionarySizeTakesLittleMemory)
{
    lzma_decoder decoder;
    EXPECT_EQ(decoder.get_dictionary_size(), 0u);
    const std::string text = "hello, hello, hello";
    const std::string tiny = Encode(text);
    // Declared 4 GiB over a few bytes of data: the decoder holds no more than a small start.
    EXPECT_EQ(DecodeDirect(decoder, WithDictionarySize(tiny, 0xFFFFFFFF), 32768, text.size()), text);
    EXPECT_LE(decoder.get_peak_dictionary_size(), 1u << 20);
    // A declared size below 4096 is raised to it; a small declared size is taken as it is.
    EXPECT_EQ(DecodeDirect(decoder, WithDictionarySize(tiny, 1), 32768, text.size()), text);
    EXPECT_EQ(decoder.get_peak_dictionary_size(), 4096u);
    EXPECT_EQ(DecodeDirect(decoder, WithDictionarySize(tiny, 5000), 1, text.size()), text);
    EXPECT_EQ(decoder.get_peak_dictionary_size(), 5000u);
}
