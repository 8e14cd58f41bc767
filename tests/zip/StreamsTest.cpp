#include "zip/crc32_stream.h"
#include "zip/mem_stream.h"
#include "zip/null_stream.h"
#include "zip/sub_stream.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <zlib.h>

namespace {

const auto Eof = std::char_traits<char>::eof();

std::string ReadAll(std::istream& in, size_t chunk = 4096)
{
    std::string result;
    std::string block(chunk, '\0');
    while (in.read(&block[0], static_cast<std::streamsize>(chunk)) || in.gcount() > 0)
        result.append(block, 0, static_cast<size_t>(in.gcount()));
    return result;
}

// Compares large byte strings without printing them.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
}

// Sources that fail: one cannot seek, one throws on reading.
struct UnseekableBuf : std::stringbuf
{
    using std::stringbuf::stringbuf;
    pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
    pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(-1); }
};
struct ThrowingBuf : std::streambuf
{
    pos_type seekoff(off_type o, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(o); }
    int_type underflow() override { throw std::runtime_error("disk gone"); }
};

TEST(SubStream, WindowShowsItsRangeInBlocks)
{
    std::string data = testutil::RandomData(200000, 3);
    std::istringstream source(data);

    auto window = std::make_shared<basic_isubstream<char>>(source, std::streampos(1000), 50000);
    EXPECT_EQ(window->tellg(), std::streampos(-1));
    EXPECT_TRUE(SameBytes(ReadAll(*window, 777), data.substr(1000, 50000)));
    EXPECT_TRUE(source.good()) << "reaching the window's end must not disturb the source";

    basic_isubstream<char> empty(source, std::streampos(10), 0);
    EXPECT_EQ(empty.get(), Eof);
    EXPECT_TRUE(source.good());

    // 32,769 bytes: one refill of 32,768, then one of 1.
    basic_isubstream<char> oneMore(source, std::streampos(5), 32769);
    oneMore.get();
    EXPECT_EQ(source.tellg(), std::streampos(5 + 32768));
    oneMore.ignore(32767);
    EXPECT_EQ(oneMore.get(), static_cast<unsigned char>(data[5 + 32768]));
    EXPECT_EQ(source.tellg(), std::streampos(5 + 32769));
    EXPECT_EQ(oneMore.get(), Eof);

    // Two windows over one source, read alternately while the source is moved in between.
    basic_isubstream<char> a(source, std::streampos(0), 90000);
    basic_isubstream<char> b(source, std::streampos(100000), 90000);
    std::string gotA, gotB, part(5000, '\0');
    for (int i = 0; i < 18; ++i)
    {
        a.read(&part[0], 5000);
        gotA.append(part, 0, static_cast<size_t>(a.gcount()));
        source.seekg(123);
        b.read(&part[0], 5000);
        gotB.append(part, 0, static_cast<size_t>(b.gcount()));
    }
    EXPECT_TRUE(SameBytes(gotA, data.substr(0, 90000)));
    EXPECT_TRUE(SameBytes(gotB, data.substr(100000, 90000)));

    // Running past the source's end: the bytes that exist, then end of file.
    basic_isubstream<char> pastEnd(source, std::streampos(199990), 100);
    EXPECT_EQ(ReadAll(pastEnd), data.substr(199990));
}

TEST(SubStream, FailingSourcesEndTheWindow)
{
    UnseekableBuf unseekable("some bytes here");
    std::istream source1(&unseekable);
    basic_isubstream<char> w1(source1, std::streampos(2), 5);
    EXPECT_EQ(ReadAll(w1), "");

    ThrowingBuf throwing;
    std::istream source2(&throwing);
    basic_isubstream<char> w2(source2, std::streampos(0), 100);
    EXPECT_EQ(ReadAll(w2), "");
    EXPECT_TRUE(source2.bad());

    std::istringstream source3("abcdef");
    basic_isubstream<char> w3(source3, std::streampos(1000), 4000000000u);
    EXPECT_EQ(ReadAll(w3), "");

    // A source that an earlier reader left failed at its end still serves other windows.
    basic_isubstream<char> tail(source3, std::streampos(4), 100);
    EXPECT_EQ(ReadAll(tail), "ef");
    EXPECT_TRUE(source3.fail());
    basic_isubstream<char> head(source3, std::streampos(0), 3);
    EXPECT_EQ(ReadAll(head), "abc");
}

TEST(Crc32Stream, ChecksumsExactlyWhatWasOffered)
{
    std::istringstream check("123456789");
    basic_crc32stream<char> crc;
    crc.init(check);
    EXPECT_EQ(ReadAll(crc), "123456789");
    EXPECT_EQ(crc.get_crc32(), 0xCBF43926u); // the standard check value of CRC-32
    EXPECT_EQ(crc.tellg(), std::streampos(-1));

    std::istringstream nothing("");
    basic_crc32stream<char> empty;
    empty.init(nothing);
    EXPECT_EQ(empty.get(), Eof);
    EXPECT_EQ(empty.get_crc32(), 0u);

    // Peeked bytes count once; a reader that stops early has the checksum of what it saw.
    std::string data = testutil::CompressibleData(100000, 5);
    std::istringstream source(data);
    basic_crc32stream<char> partial;
    partial.init(source);
    partial.peek();
    EXPECT_EQ(partial.peek(), static_cast<unsigned char>(data[0]));
    std::string head(1000, '\0');
    partial.read(&head[0], 1000);
    auto crcOf = [&](size_t n) { return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), n)); };
    EXPECT_EQ(partial.get_crc32(), crcOf(1000));
    EXPECT_EQ(partial.get_bytes_read(), 32768u);
    EXPECT_TRUE(SameBytes(head + ReadAll(partial, 32769), data));
    EXPECT_EQ(partial.get_crc32(), crcOf(data.size()));
    EXPECT_EQ(partial.get_bytes_read(), 100000u);
}

TEST(NullStream, SwallowsWritesAndYieldsNothing)
{
    basic_nullstream<char> sink;
    std::string block(3 << 20, 'x');
    sink.write(block.data(), static_cast<std::streamsize>(block.size()));
    EXPECT_TRUE(sink.good());
    char c;
    EXPECT_FALSE(sink.read(&c, 1));
    EXPECT_EQ(sink.gcount(), 0);
}

TEST(MemStream, ReadsAndSeeksWithinTheBlock)
{
    const std::string block = "0123456789";
    basic_imemstream<char> in(block.data(), block.size());
    EXPECT_EQ(ReadAll(in, 3), block);
    in.clear();
    in.seekg(0);
    EXPECT_EQ(ReadAll(in), block); // readable again after a rewind
    in.clear();
    EXPECT_TRUE(in.seekg(10));
    EXPECT_EQ(in.get(), Eof);
    in.clear();

    // Seeks outside 0..size fail and leave the position alone.
    for (auto bad : {std::make_pair(11, std::ios::beg), std::make_pair(-5, std::ios::cur), std::make_pair(1, std::ios::end)})
    {
        in.seekg(4);
        EXPECT_FALSE(in.seekg(bad.first, bad.second));
        in.clear();
        EXPECT_EQ(in.tellg(), std::streampos(4));
    }

    // unget steps back; putback of another byte fails; at the start both fail.
    in.seekg(0);
    EXPECT_EQ(in.get(), '0');
    EXPECT_TRUE(in.unget());
    in.get();
    EXPECT_FALSE(in.putback('x'));
    in.clear();
    EXPECT_TRUE(in.putback('0'));
    EXPECT_FALSE(in.unget());
    in.clear();
    EXPECT_FALSE(in.putback('0'));

    basic_imemstream<char> empty(nullptr, 0);
    EXPECT_EQ(empty.tellg(), std::streampos(0));
    EXPECT_EQ(empty.get(), Eof);
    empty.clear();
    EXPECT_TRUE(empty.seekg(0));
    EXPECT_FALSE(empty.seekg(1));
}

TEST(MemStream, BufferPositionsForBothSides)
{
    char block[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    mem_streambuf<char> buf(block, sizeof(block));
    const auto in = std::ios::in, out = std::ios::out, both = in | out;
    EXPECT_EQ(buf.pubseekoff(0, std::ios::cur, both), std::streampos(-1)); // ambiguous
    EXPECT_EQ(buf.pubseekoff(-2, std::ios::end, both), std::streampos(6));
    EXPECT_EQ(buf.pubseekoff(0, std::ios::cur, out), std::streampos(6));
    EXPECT_EQ(buf.pubseekoff(3, std::ios::beg, out), std::streampos(3));
    EXPECT_EQ(buf.pubseekpos(9, in), std::streampos(-1));
    EXPECT_EQ(buf.pubseekoff(0, std::ios::cur, in), std::streampos(6));
}

} // namespace
