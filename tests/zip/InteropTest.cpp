// Interoperability with Info-ZIP, 7-Zip and Python's zipfile, all run at test time: archives
// they write must read back exactly, and archives we write must pass their tests.
#include "tests/common/TestUtil.h"
#include "tests/common/ZipFixtures.h"

#include "zip/ZipArchive.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

using namespace ziptest;
using testutil::RunCommand;
using testutil::RunPython;
using testutil::ShellQuote;

namespace {

// Python's view of an archive: the comment, then one line per entry in directory order.
const char* ListScript = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    print(z.comment.decode('latin-1').replace('\n', '|'))
    for i in z.infolist():
        print('%s\t%d\t%d\t%d' % (i.filename, i.external_attr, i.compress_type, i.flag_bits))
)";

// Tests an archive (optionally with a password) and lists each entry's name and data CRC-32.
const char* TestScript = R"(
import sys, zipfile, zlib
with zipfile.ZipFile(sys.argv[1]) as z:
    if len(sys.argv) > 2:
        z.setpassword(sys.argv[2].encode())
    if z.testzip():
        sys.exit('damaged: %s' % z.testzip())
    for i in z.infolist():
        print('%s\t%d' % (i.filename, zlib.crc32(z.read(i.filename))))
)";

// Whether two archives hold the same entries: order, every header field but the local header
// offset, central and local extra fields, comments and stored bytes.
const char* SameArchiveScript = R"(
import sys, struct, zipfile
def entries(path):
    result = []
    with zipfile.ZipFile(path) as z, open(path, 'rb') as f:
        for i in z.infolist():
            f.seek(i.header_offset)
            local = f.read(30)
            n, m = struct.unpack('<HH', local[26:30])
            f.read(n)
            result.append((i.filename, i.date_time, i.create_version, i.extract_version, i.flag_bits,
                           i.compress_type, i.CRC, i.compress_size, i.file_size, i.internal_attr,
                           i.external_attr, i.extra, i.comment, f.read(m), f.read(i.compress_size)))
        return z.comment, result
a, b = entries(sys.argv[1]), entries(sys.argv[2])
if a != b:
    sys.exit('archives differ:\n%r\n%r' % (a, b))
)";

struct PeerEntry
{
    std::string name;
    uint32_t attributes;
    int method;
    int flags;
};

std::vector<PeerEntry> ListWithPython(const std::filesystem::path& archive, std::string* comment = nullptr)
{
    auto result = RunPython(ListScript, {archive.string()});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::istringstream lines(result.output);
    std::string line;
    std::getline(lines, line);
    if (comment)
        *comment = line;
    std::vector<PeerEntry> entries;
    while (std::getline(lines, line))
    {
        PeerEntry e;
        std::istringstream fields(line);
        std::getline(fields, e.name, '\t');
        fields >> e.attributes >> e.method >> e.flags;
        entries.push_back(e);
    }
    return entries;
}

// The peers' own tests; Info-ZIP's unzip cannot decode LZMA.
void ExpectPeersAccept(const std::filesystem::path& archive, bool withUnzip, const std::string& password = "")
{
    const std::string quoted = ShellQuote(archive.string());
    const std::string pw = ShellQuote(password);
    if (withUnzip)
    {
        auto unzip = RunCommand("unzip -t " + (password.empty() ? "" : "-P " + pw + " ") + quoted);
        EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
    }
    auto sevenZip = RunCommand("7z t " + (password.empty() ? "" : "-p" + pw + " ") + quoted);
    EXPECT_EQ(sevenZip.exitCode, 0) << sevenZip.output;
    std::vector<std::string> args{archive.string()};
    if (!password.empty())
        args.push_back(password);
    auto python = RunPython(TestScript, args);
    EXPECT_EQ(python.exitCode, 0) << python.output;
}

class Interop : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new testutil::TempDir();
        std::filesystem::create_directories(*dir / "d/sub");
        testutil::WriteFile(*dir / "d/rand.bin", testutil::RandomData(100000, 11));
        testutil::WriteFile(*dir / "d/sub/text.sii", testutil::CompressibleData(200000, 12));
        testutil::WriteFile(*dir / "d/empty", "");
        chmod((*dir / "d/rand.bin").c_str(), 0640);
    }
    static void TearDownTestSuite() { delete dir; }

    static std::filesystem::path Make(const std::string& file, const std::string& command)
    {
        auto result = RunCommand("cd " + ShellQuote(dir->path().string()) + " && rm -f " + file + " && " + command);
        EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.output;
        return *dir / file;
    }

    // A peer's archive: names, attributes, methods and comment as Python sees them, and every
    // entry's data, checked, equal to the file the peer was given ("-" is standard input).
    static void ExpectReadsBack(const std::filesystem::path& path, size_t count)
    {
        std::string comment;
        const auto peer = ListWithPython(path, &comment);
        auto archive = OpenFile(path);
        ASSERT_EQ(archive->GetEntriesCount(), count) << path;
        ASSERT_EQ(peer.size(), count);
        std::string ours = archive->GetComment();
        std::replace(ours.begin(), ours.end(), '\n', '|');
        EXPECT_EQ(ours, comment);
        for (size_t i = 0; i < count; ++i)
        {
            auto entry = archive->GetEntry(i);
            SCOPED_TRACE(peer[i].name);
            EXPECT_EQ(entry->GetFullName(), peer[i].name);
            EXPECT_EQ(entry->GetExternalFileAttributes(), peer[i].attributes);
            EXPECT_EQ(entry->GetCompressionMethod(), peer[i].method);
            std::vector<char> data;
            EXPECT_TRUE(entry->ReadVerifiedData(data));
            const std::string source = peer[i].name == "-" ? "d/sub/text.sii" : peer[i].name;
            const std::string expected = entry->IsDirectory() ? "" : testutil::ReadFile(*dir / source);
            EXPECT_TRUE(std::string(data.begin(), data.end()) == expected);
        }
    }

    // Read and written back unchanged, the archive keeps everything, and the peers accept it.
    static void ExpectUnchangedCopy(const std::filesystem::path& path, bool withUnzip)
    {
        const auto copy = path.string() + ".copy.zip";
        ASSERT_TRUE(WriteToFile(*OpenFile(path), copy));
        ExpectPeersAccept(copy, withUnzip);
        auto same = RunPython(SameArchiveScript, {path.string(), copy});
        EXPECT_EQ(same.exitCode, 0) << same.output;
    }

    static testutil::TempDir* dir;
};

testutil::TempDir* Interop::dir = nullptr;

} // namespace

TEST_F(Interop, ArchivesFromInfoZip)
{
    const std::pair<const char*, const char*> cases[] = {
        {"z_deflate.zip", "zip -q -r z_deflate.zip d"},
        {"z_store.zip", "zip -q -0 -r z_store.zip d"},
        {"z_bzip2.zip", "zip -q -Z bzip2 -r z_bzip2.zip d"},
        {"z_noextra.zip", "zip -q -X -r z_noextra.zip d"},
        {"z_comment.zip", "printf 'line one\\nline two' | zip -q -z -r z_comment.zip d"},
        // From a pipe into a pipe: the sizes are unknown when the local header goes out, so
        // the entry gets a data descriptor (-fz- keeps it free of 64-bit records; the second
        // form has them in its local header, which we carry as opaque data).
        {"z_stream.zip", "cat d/sub/text.sii | zip -q -fz- - - | cat > z_stream.zip"},
        {"z_stream64.zip", "cat d/sub/text.sii | zip -q - - | cat > z_stream64.zip"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.first);
        const auto path = Make(c.first, c.second);
        ExpectReadsBack(path, std::string(c.first).rfind("z_stream", 0) == 0 ? 1 : 5);
        ExpectUnchangedCopy(path, true);
    }
    EXPECT_EQ(ListWithPython(*dir / "z_stream.zip").at(0).flags & FlagDataDescriptor, FlagDataDescriptor);
}

TEST_F(Interop, ArchivesFromSevenZip)
{
    for (std::string method : {"Deflate", "BZip2", "LZMA"})
    {
        SCOPED_TRACE(method);
        const auto path = Make("7z_" + method + ".zip", "7z a -tzip -mm=" + method + " 7z_" + method + ".zip d");
        ExpectReadsBack(path, 5);
        ExpectUnchangedCopy(path, method != "LZMA");
    }
}

TEST_F(Interop, ArchivesFromPythonZipfile)
{
    const char* script = R"(
import sys, os, zipfile
method = {'deflate': zipfile.ZIP_DEFLATED, 'bzip2': zipfile.ZIP_BZIP2, 'lzma': zipfile.ZIP_LZMA}[sys.argv[2]]
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open(sys.argv[1], 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw) if sys.argv[3] == 'pipe' else raw, 'w', method) as z:
        for root, dirs, files in sorted(os.walk('d')):
            z.write(root)
            for f in sorted(files):
                z.write(os.path.join(root, f))
)";
    for (std::string method : {"deflate", "bzip2", "lzma"})
    {
        for (std::string target : {"file", "pipe"})
        {
            SCOPED_TRACE(method + " " + target);
            const std::string file = "py_" + method + "_" + target + ".zip";
            const auto path = Make(file, "python3 -c " + ShellQuote(script) + " " + file + " " + method + " " + target);
            ExpectReadsBack(path, 5);
            ExpectUnchangedCopy(path, method != "lzma");
            // Written to a stream that cannot seek back, the entries carry data descriptors.
            const int flags = ListWithPython(path).at(1).flags & FlagDataDescriptor;
            EXPECT_EQ(flags, target == "pipe" ? FlagDataDescriptor : 0);
        }
    }
}

TEST_F(Interop, ArchivesWeWritePassPeerTests)
{
    const std::string text = testutil::CompressibleData(150000, 21);
    const std::string random = testutil::RandomData(70000, 22);
    for (uint16_t method : {0, 8, 12, 14})
    {
        SCOPED_TRACE(method);
        auto archive = ZipArchive::Create(nullptr);
        archive->CreateEntry("folder/");
        AddEntry(*archive, "folder/text.sii", text, method);
        AddEntry(*archive, "folder/empty", "", method);
        AddEntry(*archive, "random.bin", random, method);
        std::istringstream pending(text), pendingEmpty("");
        archive->CreateEntry("later.txt")->SetCompressionStream(pending, CreateCompressionMethod(method),
                                                                CompressOnWrite);
        archive->CreateEntry("later-empty")->SetCompressionStream(pendingEmpty, CreateCompressionMethod(method),
                                                                  CompressOnWrite);
        const auto path = *dir / ("ours_" + std::to_string(method) + ".zip");
        ASSERT_TRUE(WriteToFile(*archive, path));
        ExpectPeersAccept(path, method != 14);
        const std::string crcText = std::to_string(Crc32(text));
        EXPECT_EQ(RunPython(TestScript, {path.string()}).output,
                  "folder/\t0\nfolder/text.sii\t" + crcText + "\nfolder/empty\t0\nrandom.bin\t" +
                      std::to_string(Crc32(random)) + "\nlater.txt\t" + crcText + "\nlater-empty\t0\n");
        EXPECT_EQ(ListWithPython(path).at(0).attributes, AttributeDirectory);
        ExpectUnchangedCopy(path, method != 14);
    }
}

// Python compresses an empty folder entry into a few bytes of its archive's method. A folder is
// written without data, so it must be written as stored, or unzip refuses the archive.
TEST_F(Interop, FoldersAPeerCompressedAreWrittenStored)
{
    const char* make = R"(
import sys, zipfile
method = {'deflate': zipfile.ZIP_DEFLATED, 'bzip2': zipfile.ZIP_BZIP2, 'lzma': zipfile.ZIP_LZMA}[sys.argv[2]]
with zipfile.ZipFile(sys.argv[1], 'w', method) as z:
    z.writestr('d/', b'')
    z.writestr('d/f.sii', b'unit: some.truck ' * 100)
    z.writestr('d/e/', b'')
)";
    // Per entry: name, then method, version needed and flags of the central and the local header.
    const char* headers = R"(
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[1], 'rb') as f:
    for i in z.infolist():
        f.seek(i.header_offset + 4)
        version, flags, method = struct.unpack('<HHH', f.read(6))
        print(i.filename, i.compress_type, i.extract_version, i.flag_bits, i.compress_size, method, version, flags)
)";
    for (std::string method : {"deflate", "bzip2", "lzma"})
    {
        SCOPED_TRACE(method);
        const auto source = *dir / ("folders_" + method + ".zip");
        auto made = RunPython(make, {source.string(), method});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const auto before = ListWithPython(source);
        ASSERT_EQ(before.size(), 3u);
        ASSERT_NE(before[0].method, 0); // the peer did compress the folder

        const auto copy = source.string() + ".copy.zip";
        ASSERT_TRUE(WriteToFile(*OpenFile(source), copy));
        ExpectPeersAccept(copy, method != "lzma");
        const auto listing = RunPython(headers, {copy}).output;
        for (const char* folder : {"d/", "d/e/"})
        {
            const size_t at = listing.find(std::string(folder) + " ");
            ASSERT_NE(at, std::string::npos) << listing;
            const std::string fields = listing.substr(at, listing.find('\n', at) - at);
            // Stored, version 2.0, no flags, no data: the same in both headers.
            EXPECT_EQ(fields, std::string(folder) + " 0 20 0 0 0 20 0");
        }
        // The file keeps its method.
        EXPECT_NE(listing.find("d/f.sii " + std::to_string(before[1].method) + " "), std::string::npos) << listing;
    }
}

TEST_F(Interop, PasswordProtectedEntriesDecryptWithPeers)
{
    const std::string text = testutil::CompressibleData(40000, 31);
    for (uint16_t method : {0, 8})
    {
        for (auto mode : {CompressAtOnce, CompressOnWrite})
        {
            SCOPED_TRACE(std::to_string(method) + " " + std::to_string(mode));
            auto archive = ZipArchive::Create(nullptr);
            std::istringstream source(text), none("");
            for (auto [name, stream] : {std::make_pair("secret.txt", &source), std::make_pair("empty", &none)})
            {
                auto entry = archive->CreateEntry(name);
                entry->SetPassword("s3cret pass");
                entry->SetCompressionStream(*stream, CreateCompressionMethod(method), mode);
            }
            const auto path = *dir / "secret.zip";
            ASSERT_TRUE(WriteToFile(*archive, path));
            ExpectPeersAccept(path, true, "s3cret pass");
            EXPECT_EQ(RunPython(TestScript, {path.string(), "s3cret pass"}).output,
                      "secret.txt\t" + std::to_string(Crc32(text)) + "\nempty\t0\n");
        }
    }
}

TEST_F(Interop, EditedArchiveStaysValid)
{
    auto archive = OpenFile(Make("edit_src.zip", "zip -q -r edit_src.zip d"));
    archive->RemoveEntry(1);
    AddEntry(*archive, "d/new/added.sii", "unit: new.truck");
    archive->CreateEntry("d/new/");
    const auto out = *dir / "edited.zip";
    ASSERT_TRUE(WriteToFile(*archive, out));
    ExpectPeersAccept(out, true);
    const auto listing = ListWithPython(out);
    ASSERT_EQ(listing.size(), 6u);
    EXPECT_EQ(listing[4].name, "d/new/added.sii");
}
