// The archive: finding the end record, listing, creating and removing entries, and writing.
#include "tests/common/TestUtil.h"
#include "tests/common/ZipFixtures.h"

#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace ziptest;

namespace {

uint32_t Get32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

std::vector<std::string> Names(const ZipArchive& archive)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < archive.GetEntriesCount(); ++i)
        names.push_back(archive.GetEntry(i)->GetFullName());
    return names;
}

// An output that starts at a given position and can tell it, but cannot move.
class FixedOutput : public std::streambuf
{
public:
    explicit FixedOutput(uint64_t start) : position(start) {}

protected:
    int_type overflow(int_type c) override
    {
        ++position;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        position += static_cast<uint64_t>(n);
        return n;
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override
    {
        return off == 0 && dir == std::ios_base::cur ? pos_type(static_cast<off_type>(position)) : pos_type(-1);
    }

private:
    uint64_t position;
};

bool WritesGood(ZipArchive& archive, std::streambuf& buffer)
{
    std::ostream out(&buffer);
    archive.WriteToStream(out);
    return out.good();
}

} // namespace

TEST(ArchiveOpen, EndRecordSearch)
{
    EXPECT_EQ(Names(*OpenBytes(BuildArchive({StoredEntry("a", "1"), StoredEntry("b", "2")}))),
              (std::vector<std::string>{"a", "b"}));
    const std::string longest(65535, 'z');
    auto maximal = OpenBytes(BuildArchive({StoredEntry("a", "1")}, longest));
    EXPECT_EQ(maximal->GetEntriesCount(), 1u);
    EXPECT_EQ(maximal->GetComment(), longest);

    // The last signature at or before 18 bytes from the end wins, as a backward walk finds it:
    // a record inside the comment claiming its directory at offset 0 (a local header) hides the
    // real one; a signature within the last 18 bytes is never looked at.
    const std::string fakeRecord = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    EXPECT_EQ(OpenBytes(BuildArchive({StoredEntry("a", "1")}, fakeRecord))->GetEntriesCount(), 0u);
    EXPECT_EQ(OpenBytes(BuildArchive({StoredEntry("a", "1")}, "xx" + fakeRecord.substr(0, 16)))->GetEntriesCount(),
              1u);
    // A record further from the end than the longest comment allows is not searched for.
    EXPECT_EQ(OpenBytes(BuildArchive({StoredEntry("a", "1")}, "", "", std::string(65536, 't')))->GetEntriesCount(), 0u);

    for (const std::string& notAnArchive : {std::string(), std::string("PK\x03\x04tiny"), testutil::RandomData(300000, 4)})
        EXPECT_EQ(OpenBytes(notAnArchive)->GetEntriesCount(), 0u);
}

TEST(ArchiveOpen, DirectoryEdges)
{
    RawEntry folder = StoredEntry("dir\\sub\\", "");
    folder.externalAttributes = AttributeDirectory;
    auto archive = OpenBytes(BuildArchive({StoredEntry("", ""), StoredEntry("x//y", "1"), StoredEntry("/\\/", ""), folder}));
    EXPECT_EQ(Names(*archive), (std::vector<std::string>{"x/y", "dir/sub/"}));
    EXPECT_TRUE(archive->GetEntry(1)->IsDirectory());

    // Bytes before the archive (a self-extractor) shift nothing: offsets are absolute.
    auto prefixed = OpenBytes(BuildArchive({StoredEntry("s", "shifted")}, "", std::string(1000, '\0')));
    ASSERT_EQ(prefixed->GetEntriesCount(), 1u);
    EXPECT_EQ(Decompressed(*prefixed->GetEntry(0)), "shifted");
}

TEST(ArchiveEdit, CreateAndRemoveEntries)
{
    auto archive = OpenBytes(BuildArchive({StoredEntry("a", "1"), StoredEntry("b", "2")}));
    for (const std::string& refused : {std::string("a"), std::string(""), std::string("//"), std::string(65536, 'n')})
        EXPECT_EQ(archive->CreateEntry(refused), nullptr);
    EXPECT_NE(archive->CreateEntry(std::string(65535, 'n')), nullptr);
    EXPECT_NE(archive->CreateEntry("c/d"), nullptr);
    EXPECT_NE(archive->CreateEntry("c\\d"), nullptr); // differs before normalisation only
    ASSERT_EQ(archive->GetEntriesCount(), 5u);

    archive->RemoveEntry(0);
    archive->RemoveEntry(0);
    archive->RemoveEntry(0);
    EXPECT_EQ(Names(*OpenBytes(WriteToBytes(*archive))), (std::vector<std::string>{"c/d", "c/d"}));
}

TEST(ArchiveWrite, EmptyArchiveAndEntriesWithoutData)
{
    auto archive = ZipArchive::Create(nullptr);
    bool ok = false;
    EXPECT_EQ(WriteToBytes(*archive, &ok).size(), 22u);
    EXPECT_TRUE(ok);

    archive->CreateEntry("file");
    archive->CreateEntry("folder/");
    // A folder given data anyway is still written as a folder without data.
    std::istringstream data("not for a folder");
    archive->CreateEntry("given/")->SetCompressionStream(data, std::make_shared<StoreMethod>());
    const std::string bytes = WriteToBytes(*archive, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Get32(bytes, 30 + 4), 0x04034b50u); // no data and no descriptor after "file"
    auto reread = OpenBytes(bytes);
    ASSERT_EQ(reread->GetEntriesCount(), 3u);
    for (size_t i = 0; i < 3; ++i)
    {
        auto entry = reread->GetEntry(i);
        EXPECT_EQ(entry->GetCompressedSize(), 0u);
        EXPECT_EQ(entry->GetCentralHeader().VersionMadeBy, 63);
        EXPECT_EQ(entry->GetVersionNeededToExtract(), i == 2 ? 20 : 10); // raised only by data
        std::vector<char> none;
        EXPECT_TRUE(entry->ReadVerifiedData(none));
    }
    EXPECT_TRUE(reread->GetEntry(1)->IsDirectory());
}

TEST(ArchiveWrite, IntoAStreamThatHoldsBytes)
{
    auto archive = ZipArchive::Create(nullptr);
    AddEntry(*archive, "a", "alpha", 8);
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    out << std::string(777, '#');
    archive->WriteToStream(out);
    ASSERT_TRUE(out.good());
    const std::string bytes = out.str();
    const size_t end = bytes.size() - 22;
    EXPECT_EQ(Get32(bytes, 777), 0x04034b50u);
    EXPECT_EQ(Get32(bytes, end + 16) + Get32(bytes, end + 12), end); // directory offset + size
    EXPECT_EQ(Get32(bytes, Get32(bytes, end + 16) + 42), 777u);       // local header offset
    EXPECT_EQ(Decompressed(*OpenBytes(bytes)->GetEntry(0)), "alpha");
}

TEST(ArchiveWrite, UnchangedRoundTripKeepsEveryByte)
{
    RawEntry described = StoredEntry("desc", "with a descriptor");
    described.flags = FlagDataDescriptor;
    described.zeroLocalSizes = described.descriptor = true;
    RawEntry extras = StoredEntry("extras", "data");
    extras.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05\xAA\xBB\x00\x00", 13);
    extras.comment = "entry comment";
    extras.externalAttributes = 0x81A40000;
    RawEntry unknown = StoredEntry("m99", "opaque");
    unknown.method = 99;
    const std::string original = BuildArchive({described, extras, unknown, StoredEntry("last", "z")}, "comment");

    auto archive = OpenBytes(original);
    bool ok = false;
    EXPECT_EQ(WriteToBytes(*archive, &ok), original);
    EXPECT_TRUE(ok);
    EXPECT_EQ(WriteToBytes(*archive), original); // and again
}

TEST(ArchiveWrite, DamagedStoredDataFailsTheWrite)
{
    std::string brokenSignature = BuildArchive({StoredEntry("a", "alpha"), StoredEntry("b", "beta")});
    brokenSignature[FindNth(brokenSignature, "PK\x03\x04", 1)] = 'X';
    RawEntry cut = StoredEntry("cut", "short");
    cut.compressedSize = 4000; // runs past the end of the file
    std::string offsetPastEnd = BuildArchive({StoredEntry("a", "alpha")});
    offsetPastEnd[FindNth(offsetPastEnd, "PK\x01\x02") + 42] = '\x7f';

    for (const std::string& bytes : {brokenSignature, BuildArchive({StoredEntry("a", "alpha"), cut}), offsetPastEnd})
    {
        auto archive = OpenBytes(bytes);
        ASSERT_GE(archive->GetEntriesCount(), 1u);
        bool ok = true;
        WriteToBytes(*archive, &ok);
        EXPECT_FALSE(ok);
    }
}

TEST(ArchiveWrite, WhatTheFormatCannotHoldFailsTheWrite)
{
    std::vector<RawEntry> many;
    for (int i = 0; i < 65536; ++i)
        many.push_back(StoredEntry("e" + std::to_string(i), ""));
    auto archive = OpenBytes(BuildArchive(many));
    ASSERT_EQ(archive->GetEntriesCount(), 65536u);
    bool ok = true;
    EXPECT_TRUE(WriteToBytes(*archive, &ok).empty());
    EXPECT_FALSE(ok);
    archive->RemoveEntry(0);
    EXPECT_EQ(OpenBytes(WriteToBytes(*archive, &ok))->GetEntriesCount(), 65535u);
    EXPECT_TRUE(ok);

    auto longName = OpenBytes(BuildArchive({StoredEntry("a", "1")}));
    longName->GetEntry(0)->SetFullName(std::string(65536, 'n'));
    WriteToBytes(*longName, &ok);
    EXPECT_FALSE(ok);

    // Positions of 4 GiB and beyond cannot be recorded.
    auto small = ZipArchive::Create(nullptr);
    AddEntry(*small, "a", std::string(100, 'a'));
    FixedOutput nearTheLimit(0xFFFFFFF0u);
    EXPECT_FALSE(WritesGood(*small, nearTheLimit));

    // New data need an output that can go back to complete the local header.
    auto pending = ZipArchive::Create(nullptr);
    std::istringstream source("pending data");
    pending->CreateEntry("f")->SetCompressionStream(source, std::make_shared<StoreMethod>(), CompressOnWrite);
    FixedOutput unseekable(0);
    EXPECT_FALSE(WritesGood(*pending, unseekable));
}

TEST(ArchiveRead, ShortReadOfOneEntryDoesNotStarveAnother)
{
    RawEntry cut = StoredEntry("cut", "tail");
    cut.compressedSize = 5000; // runs past the end of the file
    const std::string bytes = BuildArchive({StoredEntry("good", "good data"), cut});

    auto archive = OpenBytes(bytes);
    std::istream* good = archive->GetEntry(0)->GetDecompressionStream();
    ASSERT_NE(good, nullptr);
    ReadAll(archive->GetEntry(1)->GetDecompressionStream()); // a short read on the shared input
    EXPECT_EQ(ReadAll(good), "good data");

    auto fresh = OpenBytes(bytes);
    std::vector<char> data;
    EXPECT_FALSE(fresh->GetEntry(1)->ReadVerifiedData(data));
    EXPECT_TRUE(fresh->GetEntry(0)->ReadVerifiedData(data));
}

TEST(ArchiveLife, EntriesOutlivingTheArchive)
{
    std::shared_ptr<ZipArchiveEntry> kept = OpenBytes(BuildArchive({StoredEntry("a", "alpha")}))->GetEntry(0);
    EXPECT_EQ(kept->GetDecompressionStream(), nullptr);
    EXPECT_EQ(ReadAll(kept->GetRawStream()), "");
}
