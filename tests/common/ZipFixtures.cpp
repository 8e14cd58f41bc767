#include "ZipFixtures.h"

#include "TestUtil.h"

#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/StoreMethod.h"
#include "zip/mem_stream.h"

#include <zlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ziptest {

namespace {

void Put16(std::string& out, uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::shared_ptr<ICompressionMethod> MethodFor(uint16_t id)
{
    switch (id)
    {
    case 8:
        return std::make_shared<DeflateMethod>();
    case 12:
        return std::make_shared<Bzip2Method>();
    case 14:
        return std::make_shared<LzmaMethod>();
    default:
        return std::make_shared<StoreMethod>();
    }
}

} // namespace

std::string BuildArchiveWith(const std::vector<RawEntry>& entries, const std::vector<size_t>& directoryOrder,
                             const std::string& comment, const std::string& prefix, const std::string& trailer);

uint32_t Crc32(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::shared_ptr<ZipArchive> OpenBytes(const std::string& bytes)
{
    return ZipArchive::Create(new std::istringstream(bytes, std::ios::in | std::ios::binary));
}

std::shared_ptr<ZipArchive> OpenFile(const std::filesystem::path& path)
{
    auto* stream = new std::ifstream(path, std::ios::binary);
    if (!*stream)
    {
        delete stream;
        throw std::runtime_error("cannot open " + path.string());
    }
    return ZipArchive::Create(stream);
}

std::string WriteToBytes(ZipArchive& archive, bool* ok)
{
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    archive.WriteToStream(out);
    if (ok)
        *ok = out.good();
    return out.str();
}

bool WriteToFile(ZipArchive& archive, const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    archive.WriteToStream(out);
    out.flush();
    return out.good();
}

std::string ReadAll(std::istream* stream)
{
    if (!stream)
        return {};
    std::ostringstream out;
    char buffer[4096];
    while (stream->read(buffer, sizeof buffer) || stream->gcount() > 0)
        out.write(buffer, stream->gcount());
    return out.str();
}

std::string Decompressed(ZipArchiveEntry& entry)
{
    return ReadAll(entry.GetDecompressionStream());
}

std::shared_ptr<ZipArchiveEntry> AddEntry(ZipArchive& archive, const std::string& name, const std::string& data,
                                          uint16_t method)
{
    auto entry = archive.CreateEntry(name);
    if (entry && !entry->IsDirectory())
    {
        basic_imemstream<char> source(data.data(), data.size());
        entry->SetCompressionStream(source, MethodFor(method), CompressAtOnce);
    }
    return entry;
}

RawEntry StoredEntry(const std::string& name, const std::string& data)
{
    RawEntry entry;
    entry.name = name;
    entry.stored = data;
    entry.versionNeeded = 10;
    entry.crc = Crc32(data);
    entry.compressedSize = static_cast<uint32_t>(data.size());
    entry.uncompressedSize = static_cast<uint32_t>(data.size());
    return entry;
}

RawEntry DeflatedEntry(const std::string& name, const std::string& data)
{
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate");
    RawEntry entry = StoredEntry(name, data);
    entry.stored = out;
    entry.method = 8;
    entry.versionNeeded = 20;
    entry.compressedSize = static_cast<uint32_t>(out.size());
    return entry;
}

std::string BuildArchive(const std::vector<RawEntry>& entries, const std::string& comment, const std::string& prefix,
                         const std::string& trailer)
{
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    return BuildArchiveWith(entries, order, comment, prefix, trailer);
}

std::string BuildArchiveInOrder(const std::vector<RawEntry>& entries, const std::vector<size_t>& directoryOrder)
{
    return BuildArchiveWith(entries, directoryOrder, "", "", "");
}

std::string BuildArchiveWith(const std::vector<RawEntry>& entries, const std::vector<size_t>& directoryOrder,
                             const std::string& comment, const std::string& prefix, const std::string& trailer)
{
    std::string out = prefix;
    // The fields both headers share, from version needed to the extra length.
    auto common = [&out](const RawEntry& e, bool local) {
        const bool zero = local && e.zeroLocalSizes;
        for (uint32_t field : {uint32_t(e.versionNeeded), uint32_t(e.flags), uint32_t(e.method), 0x6000u, 0x5821u})
            Put16(out, field); // 12:00:00 on 2024-01-01
        for (uint32_t field : {e.crc, e.compressedSize, e.uncompressedSize})
            Put32(out, zero ? 0 : field);
        Put16(out, static_cast<uint32_t>(e.name.size()));
        Put16(out, static_cast<uint32_t>(e.extra.size()));
    };
    std::vector<uint32_t> offsets;
    for (const auto& e : entries)
    {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        Put32(out, 0x04034b50);
        common(e, true);
        out += e.name + e.extra + e.stored;
        if (e.descriptor)
            for (uint32_t field : {0x08074b50u, e.crc, e.compressedSize, e.uncompressedSize})
                Put32(out, field);
    }
    const auto directoryStart = static_cast<uint32_t>(out.size());
    for (size_t i : directoryOrder)
    {
        const auto& e = entries.at(i);
        Put32(out, 0x02014b50);
        Put16(out, 20);
        common(e, false);
        Put16(out, static_cast<uint32_t>(e.comment.size()));
        Put32(out, 0); // disk number, internal attributes
        Put32(out, e.externalAttributes);
        Put32(out, offsets[i]);
        out += e.name + e.extra + e.comment;
    }
    const auto directorySize = static_cast<uint32_t>(out.size()) - directoryStart;
    Put32(out, 0x06054b50);
    Put32(out, 0); // disk numbers
    Put16(out, static_cast<uint32_t>(directoryOrder.size()));
    Put16(out, static_cast<uint32_t>(directoryOrder.size()));
    Put32(out, directorySize);
    Put32(out, directoryStart);
    Put16(out, static_cast<uint32_t>(comment.size()));
    return out + comment + trailer;
}

std::vector<std::pair<std::string, std::string>> CheckedContents(ZipArchive& archive, bool* allVerified)
{
    std::vector<std::pair<std::string, std::string>> contents;
    bool verified = true;
    for (size_t i = 0; i < archive.GetEntriesCount(); ++i)
    {
        auto entry = archive.GetEntry(i);
        std::vector<char> data;
        verified = entry->ReadVerifiedData(data) && verified;
        contents.emplace_back(entry->GetFullName(), std::string(data.begin(), data.end()));
    }
    if (allVerified)
        *allVerified = verified;
    return contents;
}

std::string PythonReadsExactly(const std::filesystem::path& archive,
                               const std::vector<std::pair<std::string, std::string>>& expected)
{
    // The expectations go to files, so that any byte passes unharmed.
    testutil::TempDir dir;
    for (size_t i = 0; i < expected.size(); ++i)
    {
        testutil::WriteFile(dir / ("name" + std::to_string(i)), expected[i].first);
        testutil::WriteFile(dir / ("data" + std::to_string(i)), expected[i].second);
    }
    const char* script = R"(
import os, sys, zipfile
archive, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
def expected(kind, i):
    with open(os.path.join(folder, kind + str(i)), 'rb') as f:
        return f.read()
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    if bad is not None:
        sys.exit('testzip: bad entry %r' % bad)
    infos = z.infolist()
    if len(infos) != count:
        sys.exit('%d entries, expected %d' % (len(infos), count))
    for i, info in enumerate(infos):
        raw = info.orig_filename.encode('utf-8' if info.flag_bits & 0x800 else 'cp437')
        if raw != expected('name', i):
            sys.exit('entry %d: name %r, expected %r' % (i, raw, expected('name', i)))
        if z.read(info) != expected('data', i):
            sys.exit('entry %d (%r): data differ' % (i, raw))
)";
    auto result = testutil::RunPython(script, {archive.string(), dir.path().string(), std::to_string(expected.size())});
    return result.exitCode == 0 ? std::string() : "python: " + result.output;
}

size_t FindNth(const std::string& haystack, const std::string& needle, size_t n)
{
    size_t position = haystack.find(needle);
    while (position != std::string::npos && n-- > 0)
        position = haystack.find(needle, position + 1);
    return position;
}

} // namespace ziptest
