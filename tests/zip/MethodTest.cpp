// Compression methods: made by ZIP method id, with their descriptors, settings and codecs.
#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/ICompressionMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/StoreMethod.h"
#include "zip/compression_decoder_stream.h"
#include "zip/compression_encoder_stream.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <LzmaEnc.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>

namespace {

// Whether a method's encoder still holds buffers or library state.
bool HoldsWorkingMemory(const std::shared_ptr<ICompressionMethod::encoder_type>& encoder)
{
    if (auto store = std::dynamic_pointer_cast<basic_store_encoder<char>>(encoder))
        return store->holds_working_memory();
    if (auto deflate = std::dynamic_pointer_cast<basic_deflate_encoder<char>>(encoder))
        return deflate->holds_working_memory();
    if (auto bzip2 = std::dynamic_pointer_cast<basic_bzip2_encoder<char>>(encoder))
        return bzip2->holds_working_memory();
    if (auto lzma = std::dynamic_pointer_cast<lzma_encoder>(encoder))
        return lzma->holds_working_memory();
    ADD_FAILURE() << "unknown encoder";
    return true;
}

// An output that takes a given number of bytes, then refuses the rest.
class LimitedBuffer : public std::streambuf
{
public:
    explicit LimitedBuffer(size_t room) : room(room) {}

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        const auto taken = std::min<std::streamsize>(n, static_cast<std::streamsize>(room));
        room -= static_cast<size_t>(taken);
        return taken;
    }
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()) || room == 0)
            return traits_type::eof();
        --room;
        return c;
    }

private:
    size_t room;
};

std::string Compress(ICompressionMethod& method, const std::string& data)
{
    std::ostringstream out;
    {
        basic_compression_encoder_stream<char> stream(method.GetEncoderProperties(), out, method.GetEncoder());
        stream.write(data.data(), static_cast<std::streamsize>(data.size()));
        stream.flush();
        EXPECT_TRUE(stream.good());
    }
    return out.str();
}

std::string Decompress(ICompressionMethod& method, const std::string& compressed)
{
    std::istringstream in(compressed);
    basic_compression_decoder_stream<char> stream(method.GetDecoder(), method.GetDecoderProperties(), in);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

} // namespace

TEST(CompressionMethod, FactoryMakesTheFourMethodsById)
{
    struct Expected
    {
        uint16_t id;
        uint16_t version;
    };
    for (Expected e : {Expected{0, 10}, Expected{8, 20}, Expected{12, 46}, Expected{14, 63}})
    {
        SCOPED_TRACE(e.id);
        auto method = CreateCompressionMethod(e.id);
        ASSERT_TRUE(method);
        EXPECT_EQ(method->GetMethodDescriptor().CompressionMethod, e.id);
        EXPECT_EQ(method->GetMethodDescriptor().VersionNeededToExtract, e.version);
        EXPECT_TRUE(method->GetEncoder());
        EXPECT_TRUE(method->GetDecoder());
        EXPECT_FALSE(method->GetEncoder()->is_initialized());
        EXPECT_FALSE(method->GetDecoder()->is_initialized());
    }
    EXPECT_TRUE(std::dynamic_pointer_cast<StoreMethod>(CreateCompressionMethod(0)));
    EXPECT_TRUE(std::dynamic_pointer_cast<DeflateMethod>(CreateCompressionMethod(8)));
    EXPECT_TRUE(std::dynamic_pointer_cast<Bzip2Method>(CreateCompressionMethod(12)));
    EXPECT_TRUE(std::dynamic_pointer_cast<LzmaMethod>(CreateCompressionMethod(14)));

    for (uint16_t id : {1, 6, 9, 10, 13, 63, 98, 0xFFFF})
        EXPECT_FALSE(CreateCompressionMethod(id)) << id;

    // One descriptor object per class.
    EXPECT_EQ(&CreateCompressionMethod(12)->GetMethodDescriptor(), &Bzip2Method().GetMethodDescriptor());
}

TEST(CompressionMethod, PropertiesAreNormalisedOnEveryCall)
{
    // Changes made through the reference stay in the method and come back normalised.
    LzmaMethod lzma;
    lzma.GetEncoderProperties().CompressionLevel = -1;
    EXPECT_EQ(lzma.GetEncoderProperties().CompressionLevel, 5);
    lzma.GetEncoderProperties().CompressionLevel = 12;
    lzma.GetEncoderProperties().IsMultithreaded = false;
    EXPECT_EQ(lzma.GetEncoderProperties().CompressionLevel, 12);
    EXPECT_FALSE(lzma.GetEncoderProperties().IsMultithreaded);

    DeflateMethod deflate;
    deflate.GetEncoderProperties().CompressionLevel = 12;
    EXPECT_EQ(deflate.GetEncoderProperties().CompressionLevel, 9);
}

TEST(CompressionMethod, EachMethodRoundTripsThroughItsCodecs)
{
    const std::string data = testutil::CompressibleData(100000, 4) + testutil::RandomData(5000, 4);
    for (uint16_t id : {0, 8, 12, 14})
    {
        SCOPED_TRACE(id);
        // An encoding and a decoding each get their own method object, as the archive does.
        auto writer = CreateCompressionMethod(id);
        const std::string compressed = Compress(*writer, data);
        // A spent method keeps its identity, its settings and its encoder's counters; the
        // encoder's working memory is gone.
        EXPECT_FALSE(HoldsWorkingMemory(writer->GetEncoder()));
        EXPECT_EQ(writer->GetMethodDescriptor().CompressionMethod, id);
        EXPECT_EQ(writer->GetEncoder()->get_bytes_read(), data.size());
        EXPECT_EQ(writer->GetEncoder()->get_bytes_written(), compressed.size());
        EXPECT_FALSE(writer->GetEncoder()->failed());
        if (id == 0)
            EXPECT_TRUE(compressed == data);
        else
            EXPECT_LT(compressed.size(), data.size());
        auto reader = CreateCompressionMethod(id);
        EXPECT_TRUE(Decompress(*reader, compressed) == data);
    }
}

TEST(CompressionMethod, FailedLzmaEncodingKeepsItsCauseAndNoMemory)
{
    // Room 0: the header cannot be written and no encoder thread starts. Room 100: the SDK's
    // own write fails midway and its encoding ends with an error. Both are write failures, and
    // neither keeps the SDK's state once the stream is done.
    const std::string data = testutil::RandomData(300000, 5);
    for (size_t room : {size_t{0}, size_t{100}})
    {
        SCOPED_TRACE(room);
        LimitedBuffer sink(room);
        std::ostream out(&sink);
        LzmaMethod method;
        {
            basic_compression_encoder_stream<char> stream(method.GetEncoderProperties(), out, method.GetEncoder());
            stream.write(data.data(), static_cast<std::streamsize>(data.size()));
            stream.flush();
            EXPECT_TRUE(stream.bad());
        }
        EXPECT_TRUE(method.GetEncoder()->failed());
        EXPECT_EQ(method.GetEncoder()->library_result(), SZ_ERROR_WRITE);
        EXPECT_FALSE(HoldsWorkingMemory(method.GetEncoder()));
    }
}
