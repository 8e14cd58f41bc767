#pragma once
// Sample definition archives made at test time with the peer tools (Python's zipfile, Info-ZIP
// zip, 7-Zip), and a listing of any archive read back through Python's zipfile.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

struct SampleEntry
{
    std::string name; // a folder's name ends in '/'
    std::string data;
};

enum class ArchiveTool { Python, InfoZip, SevenZip };
enum class ArchiveMethod { Stored, Deflate, Bzip2, Lzma };

const char* ToolName(ArchiveTool tool);
const char* MethodName(ArchiveMethod method);
// Whether the tool can write the method (Info-ZIP has no LZMA).
bool ToolSupports(ArchiveTool tool, ArchiveMethod method);

// Writes the entries into a new archive. Python keeps the given order and the folder entries as
// given; Info-ZIP keeps the order; 7-Zip chooses its own order. Throws on failure.
void BuildArchive(const std::filesystem::path& archive, const std::vector<SampleEntry>& entries, ArchiveTool tool,
                  ArchiveMethod method);

struct ListedEntry
{
    std::string name;
    int method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t size = 0;
    uint32_t externalAttributes = 0;
    std::string raw;  // the stored bytes, as they lie in the file
    std::string data; // the uncompressed bytes
    bool IsFolder() const { return (externalAttributes & 0x10) != 0; }
};

// Reads every entry with Python's zipfile, which also checks each entry's CRC-32 and size.
// Throws when Python cannot read the archive.
std::vector<ListedEntry> ListArchive(const std::filesystem::path& archive);

} // namespace testutil
