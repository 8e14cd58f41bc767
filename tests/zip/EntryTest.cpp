// Entries: name rules, data in and out, the checking read, and the write pipeline's headers.
#include "tests/common/TestUtil.h"
#include "tests/common/ZipFixtures.h"

#include "zip/DeflateMethod.h"
#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace ziptest;

namespace {

std::string AsString(const std::vector<char>& data)
{
    return std::string(data.begin(), data.end());
}

// Version needed (offset 4) and flags (6) of the first local header against the central
// header's (6 and 8), with the method after them.
void ExpectLocalMatchesCentral(const std::string& archive)
{
    const size_t central = archive.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    EXPECT_EQ(archive.substr(4, 6), archive.substr(central + 6, 6));
}

} // namespace

TEST(EntryNames, RulesAndFolderFlag)
{
    for (const char* bad : {"", "/", "\\", "/\\/"})
        EXPECT_FALSE(ZipArchiveEntry::IsValidFileName(bad)) << bad;
    for (const char* good : {"a", "/a", "\\a"})
        EXPECT_TRUE(ZipArchiveEntry::IsValidFileName(good)) << good;
    EXPECT_EQ(ZipArchiveEntry::GetFileNameFromPath("a/b/c.txt"), "c.txt");
    EXPECT_EQ(ZipArchiveEntry::GetFileNameFromPath("a\\b"), "a\\b");

    auto archive = ZipArchive::Create(nullptr);
    auto file = archive->CreateEntry("\\\\data\\\\maps/a.txt");
    EXPECT_EQ(file->GetFullName(), "data/maps/a.txt");
    EXPECT_EQ(file->GetName(), "a.txt");
    auto folder = archive->CreateEntry("//x///y/");
    EXPECT_EQ(folder->GetFullName(), "x/y/");
    EXPECT_TRUE(folder->IsDirectory());

    // The folder attribute and the trailing slash go together; a folder has no data.
    auto entry = AddEntry(*archive, "a", "some data");
    entry->SetDirectoryFlag(true);
    EXPECT_EQ(entry->GetFullName(), "a/");
    EXPECT_EQ(entry->GetCrc32(), 0u);
    EXPECT_EQ(entry->GetCompressedSize(), 0u);
    entry->SetDirectoryFlag(false);
    EXPECT_EQ(entry->GetFullName(), "a");
    EXPECT_FALSE(entry->IsDirectory());
}

TEST(EntryData, CompressAtOnceWithEveryMethod)
{
    const std::string data = testutil::CompressibleData(200000, 5);
    const std::pair<uint16_t, uint16_t> methods[] = {{0, 10}, {8, 20}, {12, 46}, {14, 63}};
    for (auto [method, version] : methods)
    {
        SCOPED_TRACE(method);
        auto archive = ZipArchive::Create(nullptr);
        auto entry = archive->CreateEntry("f.txt");
        {
            std::string copy = data;
            basic_imemstream<char> source(copy.data(), copy.size());
            EXPECT_TRUE(entry->SetCompressionStream(source, CreateCompressionMethod(method), CompressAtOnce));
            copy.assign(copy.size(), 'x'); // the caller's buffer is free after the call
        }
        EXPECT_EQ(entry->GetCompressionMethod(), method);
        EXPECT_EQ(entry->GetVersionNeededToExtract(), version);
        EXPECT_EQ(entry->GetCrc32(), Crc32(data));
        EXPECT_EQ(entry->GetUncompressedSize(), data.size());

        bool ok = false;
        auto reread = OpenBytes(WriteToBytes(*archive, &ok));
        ASSERT_TRUE(ok);
        std::vector<char> back;
        EXPECT_TRUE(reread->GetEntry(0)->ReadVerifiedData(back));
        EXPECT_TRUE(AsString(back) == data);
    }
}

TEST(EntryData, ReplacingData)
{
    auto archive = ZipArchive::Create(nullptr);
    auto entry = AddEntry(*archive, "f", std::string(1000, 'a'), 8);
    std::istream* raw = entry->GetRawStream();
    EXPECT_EQ(raw, entry->GetRawStream());
    EXPECT_EQ(ReadAll(raw).size(), entry->GetCompressedSize());
    // New data replace what the raw stream showed; the stream handed out stays valid.
    basic_imemstream<char> next("xyz", 3);
    entry->SetCompressionStream(next, std::make_shared<StoreMethod>());
    EXPECT_EQ(ReadAll(entry->GetRawStream()), "xyz");
    EXPECT_EQ(ReadAll(raw), "");

    // A second stream for compression on write drops the first, which is never read.
    auto later = archive->CreateEntry("later");
    std::istringstream first("first data"), second("second");
    later->SetCompressionStream(first, std::make_shared<DeflateMethod>(), CompressOnWrite);
    later->SetCompressionStream(second, std::make_shared<DeflateMethod>(), CompressOnWrite);
    EXPECT_EQ(first.tellg(), 0);
    auto reread = OpenBytes(WriteToBytes(*archive));
    EXPECT_EQ(Decompressed(*reread->GetEntry(0)), "xyz");
    EXPECT_EQ(Decompressed(*reread->GetEntry(1)), "second");
}

TEST(EntryData, BrokenSourceFailsTheWrite)
{
    // A source whose first read succeeds and whose second reports a read error.
    class Broken : public std::stringbuf
    {
    public:
        Broken() : std::stringbuf(std::string(100000, 'b'), std::ios::in) {}

    protected:
        std::streamsize xsgetn(char* s, std::streamsize n) override
        {
            if (++reads > 1)
                throw std::runtime_error("read error");
            return std::stringbuf::xsgetn(s, n);
        }

    private:
        int reads = 0;
    };
    for (auto mode : {CompressAtOnce, CompressOnWrite})
    {
        Broken buffer;
        std::istream source(&buffer);
        auto archive = ZipArchive::Create(nullptr);
        archive->CreateEntry("f")->SetCompressionStream(source, std::make_shared<StoreMethod>(), mode);
        bool ok = true;
        WriteToBytes(*archive, &ok);
        EXPECT_FALSE(ok) << mode;
        EXPECT_EQ(archive->GetWriteFailure(), WriteFailure::SourceFailed) << mode;
    }
}

TEST(EntryData, ArchiveEntryGivenNewDataWritesTheNewData)
{
    const std::string original = BuildArchive({StoredEntry("a", "old contents"), StoredEntry("b", "other")});
    for (auto mode : {CompressAtOnce, CompressOnWrite})
    {
        auto archive = OpenBytes(original);
        std::istringstream fresh("brand new contents");
        archive->GetEntry(0)->SetCompressionStream(fresh, std::make_shared<DeflateMethod>(), mode);
        bool ok = false;
        auto reread = OpenBytes(WriteToBytes(*archive, &ok));
        ASSERT_TRUE(ok);
        std::vector<char> data;
        EXPECT_TRUE(reread->GetEntry(0)->ReadVerifiedData(data)) << mode;
        EXPECT_EQ(AsString(data), "brand new contents");
        EXPECT_EQ(Decompressed(*reread->GetEntry(1)), "other");
    }
}

TEST(EntryData, Passwords)
{
    const std::string data = testutil::CompressibleData(50000, 9);
    auto archive = ZipArchive::Create(nullptr);
    auto entry = archive->CreateEntry("secret.txt");
    entry->SetPassword("correct horse");
    std::istringstream source(data);
    entry->SetCompressionStream(source, std::make_shared<DeflateMethod>());
    auto empty = archive->CreateEntry("empty");
    empty->SetPassword("pw");
    basic_imemstream<char> none(nullptr, 0);
    empty->SetCompressionStream(none, std::make_shared<StoreMethod>());
    EXPECT_EQ(empty->GetCompressedSize(), 12u); // the encryption header alone
    const std::string bytes = WriteToBytes(*archive);

    auto locked = OpenBytes(bytes);
    EXPECT_TRUE(locked->GetEntry(0)->IsEncrypted());
    EXPECT_EQ(locked->GetEntry(0)->GetDecompressionStream(), nullptr);
    auto opened = OpenBytes(bytes);
    opened->GetEntry(0)->SetPassword("correct horse");
    std::vector<char> back;
    EXPECT_TRUE(opened->GetEntry(0)->ReadVerifiedData(back));
    EXPECT_TRUE(AsString(back) == data);
}

TEST(EntryData, CompressOnWriteWithPasswordHasMatchingHeaders)
{
    auto archive = ZipArchive::Create(nullptr);
    auto entry = archive->CreateEntry("secret");
    entry->SetPassword("pw");
    std::istringstream source(std::string(3000, 'q'));
    entry->SetCompressionStream(source, std::make_shared<DeflateMethod>(), CompressOnWrite);
    const std::string bytes = WriteToBytes(*archive);
    ExpectLocalMatchesCentral(bytes);
    EXPECT_EQ(bytes[6] & FlagEncrypted, FlagEncrypted);

    // With a data descriptor the first local header is the only one: it must be right at once.
    RawEntry described = StoredEntry("described", "old");
    described.flags = FlagDataDescriptor;
    described.zeroLocalSizes = described.descriptor = true;
    auto other = OpenBytes(BuildArchive({described}));
    other->GetEntry(0)->SetPassword("pw");
    std::istringstream newData("new secret data");
    other->GetEntry(0)->SetCompressionStream(newData, std::make_shared<DeflateMethod>(), CompressOnWrite);
    const std::string written = WriteToBytes(*other);
    ExpectLocalMatchesCentral(written);
    auto reread = OpenBytes(written);
    reread->GetEntry(0)->SetPassword("pw");
    std::vector<char> data;
    EXPECT_TRUE(reread->GetEntry(0)->ReadVerifiedData(data));
    EXPECT_EQ(AsString(data), "new secret data");
}

TEST(EntryRead, DecompressionStreamRules)
{
    RawEntry tooNew = StoredEntry("v64", "x");
    tooNew.versionNeeded = 64;
    RawEntry unknown = StoredEntry("m99", "undecoded");
    unknown.method = 99;
    auto archive = OpenBytes(BuildArchive({StoredEntry("s", "0123456789"), tooNew, unknown}));
    ASSERT_EQ(archive->GetEntriesCount(), 3u);

    auto stored = archive->GetEntry(0);
    std::istream* raw = stored->GetRawStream();
    std::istream* plain = stored->GetDecompressionStream();
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(stored->GetDecompressionStream(), nullptr); // a chain is open
    // Raw and decompressed streams of one entry read independently of each other.
    char a[4] = {}, b[8] = {};
    raw->read(a, 3);
    plain->read(b, 5);
    EXPECT_EQ(std::string(a), "012");
    EXPECT_EQ(std::string(b), "01234");
    EXPECT_EQ(ReadAll(raw), "3456789");

    EXPECT_EQ(archive->GetEntry(1)->GetDecompressionStream(), nullptr);
    EXPECT_EQ(Decompressed(*archive->GetEntry(2)), "undecoded");
    EXPECT_FALSE(archive->GetEntry(2)->IsMethodSupported());

    // A new entry has no data in the archive: no stream, and the shared input stays usable.
    auto created = AddEntry(*archive, "new", "data");
    EXPECT_EQ(created->GetDecompressionStream(), nullptr);
    EXPECT_TRUE(archive->GetInputStream()->good());
}

TEST(EntryRead, CheckingReadRejectsDamagedData)
{
    RawEntry badCrc = StoredEntry("crc", "payload");
    badCrc.crc ^= 1;
    RawEntry longer = StoredEntry("longer", "payload");
    longer.uncompressedSize = 4; // more bytes decode than declared
    RawEntry shorter = StoredEntry("shorter", "payload");
    shorter.uncompressedSize = 100;
    RawEntry unknown = StoredEntry("m99", "payload");
    unknown.method = 99; // its stored bytes must never pass for the data
    RawEntry locked = StoredEntry("enc", "payload");
    locked.flags = FlagEncrypted;
    auto archive = OpenBytes(BuildArchive({StoredEntry("good", "payload"), badCrc, longer, shorter, unknown, locked}));
    ASSERT_EQ(archive->GetEntriesCount(), 6u);

    std::vector<char> data;
    EXPECT_TRUE(archive->GetEntry(0)->ReadVerifiedData(data));
    EXPECT_EQ(AsString(data), "payload");
    EXPECT_TRUE(archive->GetEntry(0)->ReadVerifiedData(data)); // its chain was closed
    for (size_t i = 1; i < 6; ++i)
        EXPECT_FALSE(archive->GetEntry(i)->ReadVerifiedData(data)) << archive->GetEntry(i)->GetFullName();

    auto source = ZipArchive::Create(nullptr);
    AddEntry(*source, "d", testutil::CompressibleData(100000, 2), 8);
    std::string bytes = WriteToBytes(*source);
    bytes[30 + 1 + 200] ^= 0x55; // inside the deflated data
    EXPECT_FALSE(OpenBytes(bytes)->GetEntry(0)->ReadVerifiedData(data));
}
