#include "DefinitionArchives.h"

#include "TestUtil.h"

#include <sstream>
#include <stdexcept>

namespace testutil {

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes)
    {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// The entries as files and folders below `root`, for the tools that add from disk.
void Stage(const std::filesystem::path& root, const std::vector<SampleEntry>& entries)
{
    for (const auto& e : entries)
    {
        if (!e.name.empty() && e.name.back() == '/')
            std::filesystem::create_directories(root / e.name);
        else
        {
            std::filesystem::create_directories((root / e.name).parent_path());
            WriteFile(root / e.name, e.data);
        }
    }
}

void Check(const CommandResult& result, const std::string& what)
{
    if (result.exitCode != 0)
        throw std::runtime_error(what + " failed: " + result.output);
}

const char* PythonWriter = R"(
import sys, zipfile
out, method = sys.argv[1], int(sys.argv[2])
with open(sys.argv[3]) as f:
    items = [line.rstrip('\n').split('\t') for line in f if line.strip()]
with zipfile.ZipFile(out, 'w') as z:
    for name_hex, data_hex in items:
        name = bytes.fromhex(name_hex).decode('utf-8', 'surrogateescape')
        info = zipfile.ZipInfo(name, (2024, 5, 17, 12, 30, 0))
        if name.endswith('/'):
            info.external_attr = (0o40755 << 16) | 0x10
            z.writestr(info, b'')
        else:
            info.external_attr = 0o100644 << 16
            info.compress_type = method
            z.writestr(info, bytes.fromhex(data_hex))
)";

const char* PythonLister = R"(
import sys, zipfile, struct
path = sys.argv[1]
with zipfile.ZipFile(path) as z, open(path, 'rb') as f:
    bad = z.testzip()
    if bad is not None:
        print('BAD', bad)
        sys.exit(2)
    for i in z.infolist():
        f.seek(i.header_offset)
        header = f.read(30)
        n, m = struct.unpack('<HH', header[26:30])
        f.seek(i.header_offset + 30 + n + m)
        raw = f.read(i.compress_size)
        data = b'' if i.is_dir() else z.read(i)
        name = i.orig_filename.encode('utf-8', 'surrogateescape') if i.flag_bits & 0x800 else i.orig_filename.encode('cp437')
        print(name.hex(), i.compress_type, i.CRC, i.compress_size, i.file_size, i.external_attr,
              raw.hex() or '-', data.hex() or '-')
)";

} // namespace

const char* ToolName(ArchiveTool tool)
{
    switch (tool)
    {
    case ArchiveTool::Python: return "python";
    case ArchiveTool::InfoZip: return "zip";
    case ArchiveTool::SevenZip: return "7z";
    }
    return "?";
}

const char* MethodName(ArchiveMethod method)
{
    switch (method)
    {
    case ArchiveMethod::Stored: return "stored";
    case ArchiveMethod::Deflate: return "deflate";
    case ArchiveMethod::Bzip2: return "bzip2";
    case ArchiveMethod::Lzma: return "lzma";
    }
    return "?";
}

bool ToolSupports(ArchiveTool tool, ArchiveMethod method)
{
    return !(tool == ArchiveTool::InfoZip && method == ArchiveMethod::Lzma);
}

void BuildArchive(const std::filesystem::path& archive, const std::vector<SampleEntry>& entries, ArchiveTool tool,
                  ArchiveMethod method)
{
    TempDir work;
    switch (tool)
    {
    case ArchiveTool::Python:
    {
        static const int ids[] = {0, 8, 12, 14};
        std::string list;
        for (const auto& e : entries)
            list += Hex(e.name) + "\t" + (e.data.empty() ? std::string() : Hex(e.data)) + "\n";
        WriteFile(work / "entries.txt", list);
        Check(RunPython(PythonWriter, {archive.string(), std::to_string(ids[static_cast<int>(method)]),
                                       (work / "entries.txt").string()}),
              "python zipfile");
        return;
    }
    case ArchiveTool::InfoZip:
    {
        static const char* names[] = {"store", "deflate", "bzip2", ""};
        Stage(work / "tree", entries);
        std::string list;
        for (const auto& e : entries)
            list += e.name + "\n";
        WriteFile(work / "names.txt", list);
        Check(RunCommand("cd " + ShellQuote((work / "tree").string()) + " && zip -q -X -Z " + names[static_cast<int>(method)] +
                         " " + ShellQuote(archive.string()) + " -@ < " + ShellQuote((work / "names.txt").string())),
              "zip");
        return;
    }
    case ArchiveTool::SevenZip:
    {
        static const char* names[] = {"Copy", "Deflate", "BZip2", "LZMA"};
        Stage(work / "tree", entries);
        std::string args;
        for (const auto& e : entries)
            args += " " + ShellQuote(e.name.back() == '/' ? e.name.substr(0, e.name.size() - 1) : e.name);
        // -r- keeps a listed folder from pulling in its contents a second time.
        Check(RunCommand("cd " + ShellQuote((work / "tree").string()) + " && 7z a -bd -r- -tzip -mm=" +
                         names[static_cast<int>(method)] + " " + ShellQuote(archive.string()) + args + " >/dev/null"),
              "7z");
        return;
    }
    }
}

std::vector<ListedEntry> ListArchive(const std::filesystem::path& archive)
{
    const auto result = RunPython(PythonLister, {archive.string()});
    if (result.exitCode != 0)
        throw std::runtime_error("python cannot read " + archive.string() + ": " + result.output);
    std::vector<ListedEntry> entries;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream fields(line);
        ListedEntry e;
        std::string name, raw, data;
        fields >> name >> e.method >> e.crc >> e.compressedSize >> e.size >> e.externalAttributes >> raw >> data;
        if (!fields)
            throw std::runtime_error("unexpected listing line: " + line);
        e.name = Unhex(name);
        e.raw = raw == "-" ? std::string() : Unhex(raw);
        e.data = data == "-" ? std::string() : Unhex(data);
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace testutil
