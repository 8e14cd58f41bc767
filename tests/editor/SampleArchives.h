#pragma once
// Small helpers of the editor tests: archives written with Python's zipfile (stored), and
// damage done to them afterwards.
#include "tests/common/DefinitionArchives.h"
#include "tests/common/TestUtil.h"

#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <fstream>
#include <gtest/gtest.h>

inline std::filesystem::path MakeArchive(const testutil::TempDir& dir, const std::string& name,
                                         const std::vector<testutil::SampleEntry>& entries)
{
    const auto path = dir / name;
    testutil::BuildArchive(path, entries, testutil::ArchiveTool::Python, testutil::ArchiveMethod::Stored);
    return path;
}

// Writes an archive with this library, stored: for names no peer tool takes as given (white
// space, line breaks, bytes that are not UTF-8, "." and "..").
inline void WriteOwnArchive(const std::filesystem::path& path, const std::vector<testutil::SampleEntry>& entries)
{
    auto archive = ZipArchive::Create(nullptr);
    for (const auto& e : entries)
    {
        auto entry = archive->CreateEntry(e.name);
        ASSERT_TRUE(entry) << e.name;
        if (e.name.back() == '/')
            continue;
        basic_imemstream<char> data(e.data.data(), e.data.size());
        entry->SetCompressionStream(data, std::make_shared<StoreMethod>(), CompressAtOnce);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    archive->WriteToStream(out);
    out.close();
    ASSERT_TRUE(out.good()) << path;
}

// The entry names of an archive as this library reads them, in archive order.
inline std::vector<std::string> OwnEntryNames(const std::filesystem::path& path)
{
    auto archive = ZipArchive::Create(new std::ifstream(path, std::ios::binary));
    std::vector<std::string> names;
    for (size_t i = 0; i < archive->GetEntriesCount(); ++i)
        names.push_back(archive->GetEntry(i)->GetFullName());
    return names;
}

// Gives the named entry a method this library cannot decode ("method"), or flips its first
// stored byte so that its CRC-32 no longer matches ("damage").
inline void SpoilEntry(const std::filesystem::path& archive, const std::string& how, const std::string& name)
{
    const auto result = testutil::RunPython(R"(
import sys, struct, zipfile
path, how, name = sys.argv[1:4]
data = bytearray(open(path, 'rb').read())
with zipfile.ZipFile(path) as z:
    lh = z.getinfo(name).header_offset
if how == 'method':
    struct.pack_into('<H', data, lh + 8, 99)
    cd = struct.unpack_from('<I', data, data.rfind(b'PK\x05\x06') + 16)[0]
    while data[cd:cd + 4] == b'PK\x01\x02':
        n, m, k = struct.unpack_from('<HHH', data, cd + 28)
        if data[cd + 46:cd + 46 + n] == name.encode():
            struct.pack_into('<H', data, cd + 10, 99)
        cd += 46 + n + m + k
else:
    n, m = struct.unpack_from('<HH', data, lh + 26)
    data[lh + 30 + n + m] ^= 0xFF
open(path, 'wb').write(data)
)",
                                            {archive.string(), how, name});
    ASSERT_EQ(result.exitCode, 0) << result.output;
}
