#include "zip/ZipRecords.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Little-endian bytes built by hand, independent of the writers under test.
struct Bytes
{
    std::string data;
    Bytes& u16(uint16_t v) { return put(v, 2); }
    Bytes& u32(uint32_t v) { return put(v, 4); }
    Bytes& raw(const std::string& s) { data += s; return *this; }
    Bytes& put(uint32_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }
};

// A central header with the given name, raw extra area and comment; other fields fixed.
std::string CentralHeaderBytes(const std::string& name, const std::string& extra, const std::string& comment)
{
    Bytes b;
    b.u32(0x02014b50).u16(0x031E).u16(20).u16(0x0808).u16(8).u16(0x6B21).u16(0x5A3C);
    b.u32(0xDEADBEEF).u32(1234).u32(56789).u16(static_cast<uint16_t>(name.size()));
    b.u16(static_cast<uint16_t>(extra.size())).u16(static_cast<uint16_t>(comment.size()));
    b.u16(0).u16(1).u32(0x81A40000).u32(0x01020304);
    return b.raw(name).raw(extra).raw(comment).data;
}

template <class Record>
std::string Serialized(Record& record)
{
    std::ostringstream out;
    record.Serialize(out);
    return out.str();
}

TEST(Records, InfoZipHeadersReadAndWriteBackIdentically)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir / "alpha.txt", "first file\n");
    std::filesystem::create_directories(dir / "folder");
    testutil::WriteFile(dir / "folder" / "beta.bin", testutil::RandomData(5000, 7));
    auto made = testutil::RunCommand("cd " + testutil::ShellQuote(dir.path().string()) +
                                     " && echo 'a comment long enough to hold a header' | zip -q -0 -r -z t.zip alpha.txt folder");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string archive = testutil::ReadFile(dir / "t.zip");
    size_t endAt = archive.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(endAt, std::string::npos);

    std::istringstream in(archive);
    in.seekg(static_cast<std::streamoff>(endAt));
    EndOfCentralDirectoryRecord end;
    end.Deserialize(in);
    EXPECT_EQ(end.Comment, "a comment long enough to hold a header");
    EXPECT_EQ(Serialized(end), archive.substr(endAt));

    in.seekg(end.CentralDirectoryOffset);
    std::vector<CentralDirectoryFileHeader> headers;
    for (;;)
    {
        std::streampos at = in.tellg();
        CentralDirectoryFileHeader header;
        if (!header.Deserialize(in))
        {
            // Refused at the end record: stream good, moved back by the last field's 4 bytes.
            EXPECT_TRUE(in.good());
            EXPECT_EQ(static_cast<size_t>(at), endAt);
            EXPECT_EQ(static_cast<size_t>(in.tellg()), endAt + 42);
            break;
        }
        EXPECT_FALSE(header.ExtraFields.empty()) << header.FileName;
        EXPECT_EQ(Serialized(header), archive.substr(static_cast<size_t>(at), static_cast<size_t>(in.tellg() - at)));
        headers.push_back(header);
    }
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[0].FileName, "alpha.txt");

    // Local headers too; reading one leaves the stream at the entry's data.
    for (auto& central : headers)
    {
        in.seekg(central.RelativeOffsetOfLocalHeader);
        LocalFileHeader local;
        ASSERT_TRUE(local.Deserialize(in));
        size_t dataAt = static_cast<size_t>(in.tellg());
        EXPECT_EQ(local.FileName, central.FileName);
        EXPECT_EQ(Serialized(local), archive.substr(central.RelativeOffsetOfLocalHeader,
                                                    dataAt - central.RelativeOffsetOfLocalHeader));
        if (central.FileName == "alpha.txt")
        {
            EXPECT_EQ(archive.substr(dataAt, central.CompressedSize), "first file\n");
        }
    }
}

TEST(Records, WritersUseLittleEndianAndRecomputeLengths)
{
    LocalFileHeader local;
    local.VersionNeededToExtract = 20;
    local.GeneralPurposeBitFlag = 0x0801;
    local.CompressionMethod = 14;
    local.LastModificationTime = 0xA1B2;
    local.LastModificationDate = 0xC3D4;
    local.Crc32 = 0x11223344;
    local.CompressedSize = 0x55667788;
    local.UncompressedSize = 0x99AABBCC;
    local.FileNameLength = 999; // stale lengths are recomputed
    local.ExtraFieldLength = 999;
    local.FileName = "dir/name.sii";
    local.ExtraFields.push_back(ExtraField{0x5455, 77, {'x', 'y', 'z'}});

    Bytes expected;
    expected.u32(0x04034b50).u16(20).u16(0x0801).u16(14).u16(0xA1B2).u16(0xC3D4);
    expected.u32(0x11223344).u32(0x55667788).u32(0x99AABBCC).u16(12).u16(7);
    expected.raw("dir/name.sii").u16(0x5455).u16(3).raw("xyz");
    EXPECT_EQ(Serialized(local), expected.data);

    DataDescriptor descriptor{DataDescriptorSignature, 0xCAFEBABE, 1, 0x01000000};
    EXPECT_EQ(Serialized(descriptor), Bytes().u32(0x08074b50).u32(0xCAFEBABE).u32(1).u32(0x01000000).data);
}

TEST(Records, ExtraAreaParsing)
{
    const std::string three = Bytes().u16(1).u16(3).raw("abc").data;
    const std::string empty = Bytes().u16(0x7777).u16(0).data;
    const std::string two = Bytes().u16(2).u16(2).raw("de").data;
    const std::string tooLong = Bytes().u16(3).u16(50).raw("short").data;
    struct Case
    {
        std::string area;
        size_t fields;
        std::string writtenArea; // what the area is written back as
    } cases[] = {
        {"", 0, ""},
        {three + empty + two, 3, three + empty + two}, // a zero-size field is kept
        {three + two + "zz", 2, three + two},          // stray bytes at the end are dropped
        {three + tooLong + two, 1, three},             // a field passing the end ends the list
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.area.size());
        std::string bytes = CentralHeaderBytes("n", c.area, "comment");
        std::istringstream in(bytes);
        CentralDirectoryFileHeader header;
        ASSERT_TRUE(header.Deserialize(in));
        EXPECT_EQ(header.ExtraFields.size(), c.fields);
        EXPECT_EQ(header.FileComment, "comment");
        EXPECT_EQ(Serialized(header), CentralHeaderBytes("n", c.writtenArea, "comment"));
    }

    // A local header stands at the data after a malformed area.
    Bytes local;
    local.u32(0x04034b50).u16(10).u16(0).u16(0).u16(0).u16(0).u32(0).u32(4).u32(4).u16(1).u16(9);
    std::istringstream in(local.raw("n").raw(three).raw("zz").raw("DATA").data);
    LocalFileHeader header;
    ASSERT_TRUE(header.Deserialize(in));
    EXPECT_EQ(header.ExtraFields.size(), 1u);
    char data[4];
    in.read(data, 4);
    EXPECT_EQ(std::string(data, 4), "DATA");

    // A wrong signature: refused, stream good, moved back by the extra length's 2 bytes.
    std::istringstream wrong(Bytes().u32(0x02014b50).raw(std::string(40, '\0')).data);
    EXPECT_FALSE(header.Deserialize(wrong));
    EXPECT_TRUE(wrong.good());
    EXPECT_EQ(wrong.tellg(), std::streampos(28));
}

TEST(Records, TruncatedHeadersEndWithoutLooping)
{
    // The stream ends inside a large extra area. A failed stream reports position -1, which
    // must not count as room left: the list ends at the failure.
    std::string bytes = CentralHeaderBytes("name", std::string(60000, '\0'), "").substr(0, 50);
    bytes += Bytes().u16(1).u16(3).raw("abc").u16(2).data; // cut inside the second field
    std::istringstream in(bytes);
    CentralDirectoryFileHeader header;
    ASSERT_TRUE(header.Deserialize(in)); // cut in the variable part: still accepted
    EXPECT_EQ(header.ExtraFields.size(), 1u);
    EXPECT_TRUE(in.fail());

    // Cut inside the name: full length, zeros for the missing bytes.
    std::string cut = CentralHeaderBytes("abcdef", "", "").substr(0, 49);
    std::istringstream in2(cut);
    ASSERT_TRUE(header.Deserialize(in2));
    EXPECT_EQ(header.FileName, std::string("abc\0\0\0", 6));

    // Cut inside the fixed part: refused, stream good again.
    std::istringstream in3(cut.substr(0, 30));
    EXPECT_FALSE(header.Deserialize(in3));
    EXPECT_TRUE(in3.good());
}

TEST(Records, OverlongVariablePartsFailTheStreamInsteadOfWrapping)
{
    const std::string over(65536, 'n');
    auto refused = [](auto& record) {
        std::ostringstream out;
        record.Serialize(out);
        return out.bad() && out.str().empty();
    };
    CentralDirectoryFileHeader central;
    central.FileName = std::string(65535, 'n');
    EXPECT_EQ(Serialized(central).size(), 46u + 65535u); // the largest that fits
    central.FileName = over;
    EXPECT_TRUE(refused(central));
    central.FileName = "n";
    central.FileComment = over;
    EXPECT_TRUE(refused(central));
    central.FileComment.clear();
    central.ExtraFields.push_back(ExtraField{1, 0, std::vector<char>(65532)}); // 65,536 with its 4 bytes
    EXPECT_TRUE(refused(central));

    LocalFileHeader local;
    local.ExtraFields = {ExtraField{1, 0, std::vector<char>(40000)}, ExtraField{2, 0, std::vector<char>(30000)}};
    EXPECT_TRUE(refused(local));
    local.ExtraFields.clear();
    local.FileName = over;
    EXPECT_TRUE(refused(local));

    EndOfCentralDirectoryRecord end;
    end.Comment = over;
    EXPECT_TRUE(refused(end));
}

} // namespace
