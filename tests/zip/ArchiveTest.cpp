// The archive: finding the end record, listing, creating and removing entries, and writing.
#include "tests/common/TestUtil.h"
#include "tests/common/ZipFixtures.h"

#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
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

// An output that keeps what it takes and tells its position; `refuseAfter` bytes are all it
// accepts, and once `driftAfter` bytes went in it reports positions 7 bytes ahead, as if
// something else had written to it meanwhile.
class TestOutput : public std::streambuf
{
public:
    size_t refuseAfter = SIZE_MAX;
    size_t driftAfter = SIZE_MAX;
    std::string bytes;

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char one = traits_type::to_char_type(c);
        return xsputn(&one, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* data, std::streamsize n) override
    {
        const size_t take = std::min(static_cast<size_t>(n), refuseAfter - std::min(refuseAfter, bytes.size()));
        bytes.append(data, take);
        return static_cast<std::streamsize>(take);
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override
    {
        if (off != 0 || dir != std::ios_base::cur)
            return pos_type(-1);
        return pos_type(static_cast<off_type>(bytes.size() + (bytes.size() >= driftAfter ? 7 : 0)));
    }
};

// The cause a write gives, after checking that the output was marked failed.
WriteFailure FailureOf(ZipArchive& archive, std::ostream& out)
{
    archive.WriteToStream(out);
    EXPECT_TRUE(out.bad());
    return archive.GetWriteFailure();
}

WriteFailure FailureOf(ZipArchive& archive)
{
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    return FailureOf(archive, out);
}

// A stored method whose library reports an error, with its own code, once data reach it.
class FailingEncoder : public basic_store_encoder<char>
{
public:
    void encode_next(size_t length) override
    {
        basic_store_encoder<char>::encode_next(length);
        broken = true;
    }
    bool failed() const override { return broken; }
    int library_result() const override { return broken ? -3 : 0; }

private:
    bool broken = false;
};

class FailingMethod : public StoreMethod
{
public:
    FailingMethod() { encoder = std::make_shared<FailingEncoder>(); }
};

// Sets the time zone while it lives, so that local time is known.
class TimeZone
{
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            saved = old, hadZone = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (hadZone)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::string saved;
    bool hadZone = false;
};

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
    // The search starts exactly 18 bytes before the end. A record signature there wins over the
    // real record before it; one 17 bytes before the end is never looked at. The cut record
    // there names a second directory (inside the comment) that lists "fake.txt" in place of
    // "real.txt": only the 2 or 1 bytes of its directory offset that fit are read.
    const std::string plain = BuildArchive({StoredEntry("real.txt", "1")});
    const std::string other = BuildArchive({StoredEntry("fake.txt", "1")});
    const std::string fakeDirectory = other.substr(FindNth(other, "PK\x01\x02"), 46 + 8);
    std::string fakeRecord18 = std::string("PK\x05\x06\0\0\0\0\x01\0\x01\0\x36\0\0\0", 16);
    fakeRecord18 += static_cast<char>(plain.size() & 0xFF);
    fakeRecord18 += static_cast<char>(plain.size() >> 8);
    ASSERT_EQ(fakeRecord18.size(), 18u);
    EXPECT_EQ(Names(*OpenBytes(BuildArchive({StoredEntry("real.txt", "1")}, fakeDirectory + fakeRecord18))),
              (std::vector<std::string>{"fake.txt"}));
    EXPECT_EQ(Names(*OpenBytes(BuildArchive({StoredEntry("real.txt", "1")}, fakeDirectory + fakeRecord18.substr(0, 17)))),
              (std::vector<std::string>{"real.txt"}));

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

TEST(ArchiveEdit, NewEntriesCarryTheClocksTimeInDosForm)
{
    TimeZone utc("UTC0");
    auto archive = ZipArchive::Create(nullptr);
    archive->SetClock([] { return std::time_t(1689428737); }); // 2023-07-15 13:45:37
    auto first = AddEntry(*archive, "first", "1");
    archive->SetClock([] { return std::time_t(1704067199); }); // 2023-12-31 23:59:59
    auto second = AddEntry(*archive, "second/", "");
    // Seconds count in steps of two: 37 and 59 seconds become 18 and 29.
    EXPECT_EQ(first->GetLastModificationTime(), 13 * 2048 + 45 * 32 + 18);
    EXPECT_EQ(first->GetLastModificationDate(), 43 * 512 + 7 * 32 + 15);
    EXPECT_EQ(second->GetLastModificationTime(), 23 * 2048 + 59 * 32 + 29);
    EXPECT_EQ(second->GetLastModificationDate(), 43 * 512 + 12 * 32 + 31);

    testutil::TempDir dir;
    ASSERT_TRUE(WriteToFile(*archive, dir / "timed.zip"));
    auto python = testutil::RunPython(R"(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename, *i.date_time)
)", {(dir / "timed.zip").string()});
    EXPECT_EQ(python.output, "first 2023 7 15 13 45 36\nsecond/ 2023 12 31 23 59 58\n");
}

// New names that are UTF-8 beyond ASCII carry the flag that says so, in both headers, so that
// peers show them as typed; other names (ASCII, or bytes that are not UTF-8) do not. Python's
// strict UTF-8 decoder is the judge, over many generated names.
TEST(ArchiveEdit, NewUtf8NamesAreFlaggedForPeers)
{
    std::mt19937 rng(8);
    auto utf8 = [](uint32_t c) {
        std::string out;
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0x800)
            out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        else
            out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                    static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        return out;
    };
    std::vector<std::string> names{"d\xc3\xa1" "f_xf", "plain.sii", "caf\xe9", "\xed\xa0\x80" "surrogate",
                                   "\xc0\xaf" "overlong", "\xf4\x90\x80\x80" "beyond", "cut\xe2\x82"};
    for (int i = 0; i < 300; ++i)
    {
        std::string name = "n" + std::to_string(i) + "_";
        for (size_t length = 1 + rng() % 8; length > 0; --length)
        {
            switch (i % 3)
            {
            case 0: // ASCII
                name += static_cast<char>(0x20 + rng() % 0x5F);
                break;
            case 1: // characters from every UTF-8 length, surrogates left out
            {
                const uint32_t limits[] = {0x80, 0x800, 0x10000, 0x110000};
                uint32_t c = 0x20 + rng() % (limits[rng() % 4] - 0x20);
                if (c >= 0xD800 && c <= 0xDFFF)
                    c -= 0x800;
                name += utf8(c);
                break;
            }
            default: // bytes above 0x7F, as they come
                name += static_cast<char>(0x80 + rng() % 0x80);
            }
        }
        if (name.find_first_of("/\\") == std::string::npos)
            names.push_back(name);
    }
    auto archive = ZipArchive::Create(nullptr);
    for (const auto& name : names)
        ASSERT_NE(AddEntry(*archive, name, name), nullptr);
    testutil::TempDir dir;
    ASSERT_TRUE(WriteToFile(*archive, dir / "names.zip"));

    auto python = testutil::RunPython(R"(
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[1], 'rb') as f:
    flagged = 0
    for i in z.infolist():
        utf8 = bool(i.flag_bits & 0x800)
        raw = i.filename.encode('utf-8' if utf8 else 'cp437')
        try:
            shown_as_typed = raw.decode('utf-8')
            valid = True
        except UnicodeDecodeError:
            valid = False
        if utf8 != (valid and not raw.isascii()):
            print('flag %d for %r' % (utf8, raw))
        if valid and i.filename != shown_as_typed:
            print('shown as %r, typed %r' % (i.filename, shown_as_typed))
        f.seek(i.header_offset + 6)
        if struct.unpack('<H', f.read(2))[0] != i.flag_bits:
            print('local flags differ for %r' % raw)
        if z.read(i) != raw:
            print('data differ for %r' % raw)
        flagged += utf8
    print('flagged', flagged)
)", {(dir / "names.zip").string()});
    EXPECT_EQ(python.exitCode, 0) << python.output;
    // No complaint, and the UTF-8 third of the names (some were left out for their slashes)
    // is flagged.
    const size_t summary = python.output.find("flagged ");
    ASSERT_NE(summary, std::string::npos) << python.output;
    EXPECT_EQ(python.output.substr(0, summary), "");
    EXPECT_GT(std::stoi(python.output.substr(summary + 8)), 90);
    EXPECT_EQ(archive->GetEntry(0)->GetGeneralPurposeBitFlag() & FlagUtf8, FlagUtf8);
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

TEST(ArchiveWrite, DamagedStoredDataFailsTheWriteAsAnInputFailure)
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
        EXPECT_EQ(FailureOf(*archive), WriteFailure::InputFailed);
    }
}

// New data read from the archive's own input while it is written (an entry recompressed from
// its own decompression stream, or filled from another entry's) move the shared input; every
// entry written after them must still get its own bytes. Python checks the results.
TEST(ArchiveWrite, SourcesReadingTheArchiveInputLeaveOtherEntriesIntact)
{
    testutil::TempDir dir;
    const std::string x = testutil::RandomData(5000, 1), y = testutil::RandomData(7000, 2);
    const std::string z = testutil::CompressibleData(40000, 3), w = testutil::RandomData(9000, 4);
    {
        // Files X, Y, Z, W; directory X, Z, Y, W; Z recompressed from its own data.
        auto archive = OpenBytes(BuildArchiveInOrder(
            {StoredEntry("X", x), StoredEntry("Y", y), StoredEntry("Z", z), StoredEntry("W", w)}, {0, 2, 1, 3}));
        auto entryZ = archive->GetEntry(1);
        ASSERT_EQ(entryZ->GetFullName(), "Z");
        entryZ->SetCompressionStream(*entryZ->GetDecompressionStream(), std::make_shared<DeflateMethod>(),
                                     CompressOnWrite);
        ASSERT_TRUE(WriteToFile(*archive, dir / "recompressed.zip"));
        EXPECT_EQ(PythonReadsExactly(dir / "recompressed.zip", {{"X", x}, {"Z", z}, {"Y", y}, {"W", w}}), "");
    }
    {
        // An empty entry filled from another entry's data.
        auto archive = OpenBytes(BuildArchive({StoredEntry("X", x), StoredEntry("E", ""), StoredEntry("Y", y)}));
        archive->GetEntry(1)->SetCompressionStream(*archive->GetEntry(0)->GetDecompressionStream(),
                                                   std::make_shared<StoreMethod>(), CompressOnWrite);
        ASSERT_TRUE(WriteToFile(*archive, dir / "filled.zip"));
        EXPECT_EQ(PythonReadsExactly(dir / "filled.zip", {{"X", x}, {"E", x}, {"Y", y}}), "");
    }
}

// What becomes of one entry of a generated archive before it is written.
enum class Role
{
    Copied,          // written unchanged
    OwnOnWrite,      // recompressed on writing from its own decompression stream
    OwnAtOnce,       // recompressed at once from its own decompression stream
    NextOnWrite,     // given, on writing, the data of the next entry in the directory
    PreviousOnWrite, // the same from the previous entry
    RemovedFeedsNew, // removed; its decompression stream is a new entry's data on writing
};
constexpr int RoleCount = 6;

struct GeneratedCase
{
    std::vector<std::string> data; // by position in the file
    std::vector<bool> deflated;
    std::vector<size_t> order;     // the directory lists the file's entries in this order
    std::vector<Role> roles;       // by position in the directory
    bool fromFile = false;
};

// Whose stream an entry's new data come from (a directory position), or -1.
int SourceOf(const GeneratedCase& c, size_t at)
{
    const size_t n = c.roles.size();
    switch (c.roles[at])
    {
    case Role::Copied:
        return -1;
    case Role::NextOnWrite:
        return static_cast<int>((at + 1) % n);
    case Role::PreviousOnWrite:
        return static_cast<int>((at + n - 1) % n);
    default:
        return static_cast<int>(at);
    }
}

// Each decompression stream can be read once.
bool UsesEachStreamOnce(const GeneratedCase& c)
{
    std::vector<int> uses(c.roles.size(), 0);
    for (size_t at = 0; at < c.roles.size(); ++at)
    {
        const int from = SourceOf(c, at);
        if (from >= 0 && ++uses[static_cast<size_t>(from)] > 1)
            return false;
    }
    return true;
}

// Builds, edits and writes the case's archive, then reads the result with the checking read.
// Empty when every entry holds exactly the bytes it should, else what went wrong.
std::string WriteAndCheck(const GeneratedCase& c, const std::filesystem::path& file)
{
    const size_t n = c.order.size();
    std::vector<RawEntry> raw;
    for (size_t i = 0; i < n; ++i)
    {
        const std::string name = "e" + std::to_string(i);
        raw.push_back(c.deflated[i] ? DeflatedEntry(name, c.data[i]) : StoredEntry(name, c.data[i]));
    }
    const std::string bytes = BuildArchiveInOrder(raw, c.order);
    std::shared_ptr<ZipArchive> archive;
    if (c.fromFile)
    {
        testutil::WriteFile(file, bytes);
        archive = OpenFile(file);
    }
    else
    {
        archive = OpenBytes(bytes);
    }
    if (archive->GetEntriesCount() != n)
        return "the generated archive does not open";

    // Only the streams that are used are opened, all before any data are attached (an entry
    // with data pending has no stream to give); other local headers stay unread until the
    // writer reaches them.
    std::vector<std::shared_ptr<ZipArchiveEntry>> entries;
    std::vector<std::istream*> streams(n, nullptr);
    for (size_t at = 0; at < n; ++at)
        entries.push_back(archive->GetEntry(at));
    for (size_t at = 0; at < n; ++at)
    {
        const int from = SourceOf(c, at);
        if (from >= 0)
            streams[static_cast<size_t>(from)] = entries[static_cast<size_t>(from)]->GetDecompressionStream();
    }
    std::vector<std::pair<std::string, std::string>> expected;
    std::vector<std::pair<std::string, std::string>> added;
    for (size_t at = 0; at < n; ++at)
    {
        const int from = SourceOf(c, at);
        const std::string& sourceData = c.data[c.order[from < 0 ? at : static_cast<size_t>(from)]];
        std::shared_ptr<ICompressionMethod> method;
        if ((at + c.order[at]) % 2)
            method = std::make_shared<DeflateMethod>();
        else
            method = std::make_shared<StoreMethod>();
        switch (c.roles[at])
        {
        case Role::Copied:
            break;
        case Role::OwnAtOnce:
            entries[at]->SetCompressionStream(*streams[at], method, CompressAtOnce);
            break;
        case Role::RemovedFeedsNew:
            added.emplace_back("new" + std::to_string(at), sourceData);
            continue;
        default:
            entries[at]->SetCompressionStream(*streams[static_cast<size_t>(from)], method, CompressOnWrite);
            break;
        }
        expected.emplace_back(entries[at]->GetFullName(), sourceData);
    }
    for (size_t at = n; at-- > 0;)
    {
        if (c.roles[at] == Role::RemovedFeedsNew)
            archive->RemoveEntry(at);
    }
    for (size_t at = 0; at < n; ++at)
    {
        if (c.roles[at] == Role::RemovedFeedsNew)
            archive->CreateEntry("new" + std::to_string(at))
                ->SetCompressionStream(*streams[at], std::make_shared<DeflateMethod>(), CompressOnWrite);
    }
    expected.insert(expected.end(), added.begin(), added.end());

    bool ok = false;
    const std::string written = WriteToBytes(*archive, &ok);
    if (!ok)
        return "the write failed with cause " + std::to_string(static_cast<int>(archive->GetWriteFailure()));
    bool verified = false;
    const auto contents = CheckedContents(*OpenBytes(written), &verified);
    if (!verified)
        return "an entry fails the checking read";
    if (contents.size() != expected.size())
        return "wrong entry count";
    for (size_t i = 0; i < expected.size(); ++i)
    {
        if (contents[i] != expected[i])
            return "entry " + expected[i].first + " holds other bytes";
    }
    return "";
}

std::string Describe(const GeneratedCase& c)
{
    std::string text = "directory";
    for (size_t at = 0; at < c.order.size(); ++at)
        text += " e" + std::to_string(c.order[at]) + "(size " + std::to_string(c.data[c.order[at]].size()) +
                ", role " + std::to_string(static_cast<int>(c.roles[at])) + ")";
    return text + (c.fromFile ? " from a file" : " from memory");
}

// Every entry keeps its own bytes, however new data read the archive's input while it is
// written: all directory orders of three entries with every combination of what becomes of
// them, each with all entries holding data and with one empty, then larger archives with
// entries around the window and copy block sizes.
TEST(ArchiveWrite, EveryEntryGetsItsOwnBytesWhateverReadsTheInput)
{
    testutil::TempDir dir;
    std::mt19937 rng(90210);
    auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    auto randomData = [&](size_t size) {
        return pick(2) ? testutil::RandomData(size, rng()) : testutil::CompressibleData(size, rng());
    };

    int cases = 0;
    std::vector<size_t> order{0, 1, 2};
    do
    {
        for (int roles = 0; roles < RoleCount * RoleCount * RoleCount; ++roles)
        {
            GeneratedCase c;
            c.order = order;
            c.roles = {Role(roles % RoleCount), Role(roles / RoleCount % RoleCount), Role(roles / RoleCount / RoleCount)};
            if (!UsesEachStreamOnce(c))
                continue;
            for (size_t empty : {size_t(3), pick(3)})
            {
                c.data.clear();
                c.deflated.clear();
                for (size_t i = 0; i < 3; ++i)
                {
                    c.data.push_back(randomData(i == empty ? 0 : 1 + pick(pick(2) ? 300 : 5000)));
                    c.deflated.push_back(pick(2) == 0);
                }
                c.fromFile = pick(8) == 0;
                EXPECT_EQ(WriteAndCheck(c, dir / "input.zip"), "") << Describe(c);
                ++cases;
            }
        }
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_GT(cases, 1000);

    for (int round = 0; round < 60; ++round)
    {
        GeneratedCase c;
        const size_t n = 4 + pick(5);
        for (size_t i = 0; i < n; ++i)
        {
            const size_t sizes[] = {0, 1 + pick(300), 32768, 30000 + pick(40000), 1048000 + pick(2000)};
            c.data.push_back(randomData(sizes[pick(round % 6 == 0 ? 5 : 4)]));
            c.deflated.push_back(pick(2) == 0);
            c.order.push_back(i);
            c.roles.push_back(Role(pick(RoleCount)));
        }
        std::shuffle(c.order.begin(), c.order.end(), rng);
        // Roles that would read a stream twice become plain copies.
        for (size_t at = 0; !UsesEachStreamOnce(c); ++at)
            c.roles[at] = Role::Copied;
        c.fromFile = pick(2) == 0;
        EXPECT_EQ(WriteAndCheck(c, dir / "input.zip"), "") << Describe(c);
    }
}

TEST(ArchiveWrite, WhatTheFormatCannotHoldFailsTheWriteWithItsCause)
{
    std::vector<RawEntry> many;
    for (int i = 0; i < 65536; ++i)
        many.push_back(StoredEntry("e" + std::to_string(i), ""));
    auto archive = OpenBytes(BuildArchive(many));
    ASSERT_EQ(archive->GetEntriesCount(), 65536u);
    std::stringstream nothing(std::ios::in | std::ios::out | std::ios::binary);
    EXPECT_EQ(FailureOf(*archive, nothing), WriteFailure::TooManyEntries);
    EXPECT_TRUE(nothing.str().empty());
    archive->RemoveEntry(0);
    bool ok = false;
    EXPECT_EQ(OpenBytes(WriteToBytes(*archive, &ok))->GetEntriesCount(), 65535u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(archive->GetWriteFailure(), WriteFailure::None); // a good write clears the cause

    auto longName = OpenBytes(BuildArchive({StoredEntry("a", "1")}));
    longName->GetEntry(0)->SetFullName(std::string(65536, 'n'));
    EXPECT_EQ(FailureOf(*longName), WriteFailure::FieldTooLong);

    // Positions of 4 GiB and beyond cannot be recorded.
    auto small = ZipArchive::Create(nullptr);
    AddEntry(*small, "a", std::string(100, 'a'));
    FixedOutput nearTheLimit(0xFFFFFFF0u);
    std::ostream nearOut(&nearTheLimit);
    EXPECT_EQ(FailureOf(*small, nearOut), WriteFailure::OffsetTooLarge);
    FixedOutput pastTheLimit(0x100000000u);
    std::ostream pastOut(&pastTheLimit);
    EXPECT_EQ(FailureOf(*small, pastOut), WriteFailure::OffsetTooLarge);

    // New data need an output that can go back to complete the local header.
    auto pending = ZipArchive::Create(nullptr);
    std::istringstream source("pending data");
    pending->CreateEntry("f")->SetCompressionStream(source, std::make_shared<StoreMethod>(), CompressOnWrite);
    FixedOutput unseekable(0);
    std::ostream unseekableOut(&unseekable);
    EXPECT_EQ(FailureOf(*pending, unseekableOut), WriteFailure::OutputFailed);
}

TEST(ArchiveWrite, EachBrokenPartFailsTheWriteWithItsCause)
{
    const std::string stored = BuildArchive({StoredEntry("a", testutil::RandomData(3000, 1)), StoredEntry("b", "beta")});
    {
        // An output that refuses bytes.
        auto archive = OpenBytes(stored);
        TestOutput refusing;
        refusing.refuseAfter = 100;
        std::ostream out(&refusing);
        EXPECT_EQ(FailureOf(*archive, out), WriteFailure::OutputFailed);
    }
    {
        // An output whose position runs ahead of the bytes the writer gave it.
        auto archive = OpenBytes(stored);
        TestOutput drifting;
        drifting.driftAfter = 1;
        std::ostream out(&drifting);
        EXPECT_EQ(FailureOf(*archive, out), WriteFailure::PositionMismatch);
    }
    for (auto mode : {CompressAtOnce, CompressOnWrite})
    {
        SCOPED_TRACE(mode);
        // A codec whose library fails: its own result code comes with the cause.
        auto archive = OpenBytes(stored);
        std::istringstream data("data for a broken codec");
        archive->CreateEntry("c")->SetCompressionStream(data, std::make_shared<FailingMethod>(), mode);
        EXPECT_EQ(FailureOf(*archive), WriteFailure::CodecFailed);
        EXPECT_EQ(archive->GetWriteFailureCode(), -3);

        // An encrypted entry's data are read twice; a source that cannot go back fails.
        auto locked = ZipArchive::Create(nullptr);
        struct Unseekable : std::stringbuf
        {
            using std::stringbuf::stringbuf;
            pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
            pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(-1); }
        } once(std::string(5000, 's'), std::ios::in);
        std::istream onceStream(&once);
        auto entry = locked->CreateEntry("secret");
        entry->SetPassword("pw");
        entry->SetCompressionStream(onceStream, std::make_shared<StoreMethod>(), mode);
        EXPECT_EQ(FailureOf(*locked), WriteFailure::SourceFailed);
    }
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

// Run under AddressSanitizer as well: none of this may touch the archive's freed memory.
TEST(ArchiveLife, RemovedEntriesLetGoOfTheArchive)
{
    const std::string large = testutil::RandomData(100000, 7); // more than one window refill
    const std::string bytes = BuildArchive({StoredEntry("a", large), DeflatedEntry("b", testutil::RandomData(90000, 8)),
                                            StoredEntry("c", "gamma"),
                                            StoredEntry("d", large)});
    std::shared_ptr<ZipArchiveEntry> b, c, d;
    std::istream* bRaw = nullptr;
    std::istream* dData = nullptr;
    {
        auto archive = OpenBytes(bytes);
        auto a = archive->GetEntry(0);
        b = archive->GetEntry(1);
        c = archive->GetEntry(2);
        d = archive->GetEntry(3);
        std::istream* aData = a->GetDecompressionStream();
        bRaw = b->GetRawStream();
        char first[10];
        bRaw->read(first, sizeof first);
        dData = d->GetDecompressionStream();
        dData->read(first, sizeof first);
        archive->RemoveEntry(0);
        archive->RemoveEntry(0);
        archive->RemoveEntry(0);

        // Removed entries reach nothing of the archive: no stream, or an empty one.
        EXPECT_EQ(c->GetDecompressionStream(), nullptr);
        EXPECT_EQ(ReadAll(c->GetRawStream()), "");
        // Streams handed out before the removal stay readable while the archive lives, so a
        // removed entry's data can become a new entry's (a rename).
        auto renamed = archive->CreateEntry("renamed");
        renamed->SetCompressionStream(*aData, std::make_shared<DeflateMethod>(), CompressOnWrite);
        bool ok = false;
        auto reread = OpenBytes(WriteToBytes(*archive, &ok));
        ASSERT_TRUE(ok);
        bool verified = false;
        const auto contents = CheckedContents(*reread, &verified);
        EXPECT_TRUE(verified);
        ASSERT_EQ(contents.size(), 2u);
        EXPECT_EQ(contents[0].first, "d");
        EXPECT_TRUE(contents[0].second == large);
        EXPECT_EQ(contents[1].first, "renamed");
        EXPECT_TRUE(contents[1].second == large);
    }
    // The archive is gone. Its entries, removed or not, and the streams they handed out end
    // where their buffered bytes end: never a read of the freed input.
    EXPECT_EQ(b->GetDecompressionStream(), nullptr);
    EXPECT_EQ(c->GetDecompressionStream(), nullptr);
    const std::string bRest = ReadAll(bRaw);
    EXPECT_LT(bRest.size(), b->GetCompressedSize() - 10);
    const size_t bDataStart = 2 * (30 + 1) + large.size();
    EXPECT_EQ(bRest, bytes.substr(bDataStart + 10, bRest.size()));
    const std::string dRest = ReadAll(dData);
    EXPECT_LT(dRest.size(), large.size() - 10);
    EXPECT_EQ(dRest, large.substr(10, dRest.size()));
}
