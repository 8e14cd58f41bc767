#pragma once
// Helpers for tests of the ZIP library: opening archives from bytes or files, writing them
// back, reading entry data, and a small independent writer of hand-made archives for cases
// that no peer tool produces (damaged headers, odd flags, unknown methods).
#include "zip/ZipArchive.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ziptest {

uint32_t Crc32(const std::string& data);

// The archive owns the stream it is opened on.
std::shared_ptr<ZipArchive> OpenBytes(const std::string& bytes);
std::shared_ptr<ZipArchive> OpenFile(const std::filesystem::path& path);

// Writes the archive into a fresh string stream; `ok` reports the stream's state afterwards.
std::string WriteToBytes(ZipArchive& archive, bool* ok = nullptr);
// Writes to a file; true when the stream stayed good.
bool WriteToFile(ZipArchive& archive, const std::filesystem::path& path);

// Everything left in a stream; empty for a null stream.
std::string ReadAll(std::istream* stream);
// The entry's uncompressed data through a fresh decompression stream.
std::string Decompressed(ZipArchiveEntry& entry);

// Adds an entry with the given data (method: 0, 8, 12 or 14), compressed at once.
std::shared_ptr<ZipArchiveEntry> AddEntry(ZipArchive& archive, const std::string& name, const std::string& data,
                                          uint16_t method = 0);

// One entry of a hand-made archive. `stored` is written as the entry's data verbatim.
struct RawEntry
{
    std::string name;
    std::string stored;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint16_t versionNeeded = 20;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t externalAttributes = 0;
    std::string extra;
    std::string comment;
    bool zeroLocalSizes = false; // local header carries zeros (as with a data descriptor)
    bool descriptor = false;     // a signed data descriptor follows the data
};

// A stored entry whose headers describe `data` correctly.
RawEntry StoredEntry(const std::string& name, const std::string& data);
// A deflated entry (zlib at level 6, raw) whose headers describe `data` correctly.
RawEntry DeflatedEntry(const std::string& name, const std::string& data);

// Builds an archive: local headers and data, central directory, end record. `prefix` comes
// before everything (offsets count it), `trailer` after the end record's comment.
std::string BuildArchive(const std::vector<RawEntry>& entries, const std::string& comment = "",
                         const std::string& prefix = "", const std::string& trailer = "");

// As BuildArchive, but the central directory lists the entries in `directoryOrder` (indexes into
// `entries`), while their local headers and data stand in the order given.
std::string BuildArchiveInOrder(const std::vector<RawEntry>& entries, const std::vector<size_t>& directoryOrder);

// Every entry's name and data through the checking read (length and CRC-32 against the
// headers), in directory order; `allVerified` says whether every entry passed.
std::vector<std::pair<std::string, std::string>> CheckedContents(ZipArchive& archive, bool* allVerified);

// Python's zipfile reads the archive: testzip() finds nothing wrong and the entries, in directory
// order, have exactly these names (as bytes) and data. Empty when so, else what differed.
std::string PythonReadsExactly(const std::filesystem::path& archive,
                               const std::vector<std::pair<std::string, std::string>>& expected);

// Offset of the n-th occurrence (from 0) of `needle`, or npos.
size_t FindNth(const std::string& haystack, const std::string& needle, size_t n = 0);

} // namespace ziptest
