#pragma once
// One ZIP archive: opened on a seekable input stream (which it then owns), it lists its
// entries in archive order, creates and removes entries, and writes itself to another stream.
// Local headers and stored bytes are read from the input on demand, also while writing, so
// the input must stay open and unchanged for the archive's life.
#include "zip/ZipArchiveEntry.h"
#include "zip/ZipRecords.h"

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class StagedOutput;

// Why the last WriteToStream failed. The output stream's state says that it failed; this says why.
enum class WriteFailure
{
    None,             // the last write succeeded, or none was made
    TooManyEntries,   // more than 65,535 entries: the format counts them in 16 bits
    FieldTooLong,     // a name, comment or extra area longer than its 16-bit length allows
    OffsetTooLarge,   // a position or size at or past 4 GiB: no 64-bit records are written
    CodecFailed,      // an entry's compression library failed; GetWriteFailureCode gives its result
    SourceFailed,     // the stream given as an entry's new data broke while it was read
    InputFailed,      // the archive's own input ended short: a local header or stored bytes
    PositionMismatch, // the output's position disagrees with the bytes written to it
    OutputFailed,     // the output stream refused the bytes
};

class ZipArchive
{
public:
    // Never empty. With a stream, reads the end record and the central directory; the archive
    // owns and later deletes the stream.
    static std::shared_ptr<ZipArchive> Create(std::istream* stream);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    size_t GetEntriesCount() const { return entries.size(); }
    std::shared_ptr<ZipArchiveEntry> GetEntry(size_t index) const { return entries[index]; }
    // Empty when an entry of exactly that name exists, or the name is invalid or too long.
    std::shared_ptr<ZipArchiveEntry> CreateEntry(const std::string& name);
    void RemoveEntry(size_t index);
    // Every failure ends in the output stream's state; the caller inspects it.
    void WriteToStream(std::ostream& stream);
    // The cause of the last failed write, and for a codec failure the library's return code.
    WriteFailure GetWriteFailure() const { return writeFailure; }
    int GetWriteFailureCode() const { return writeFailureCode; }

    const std::string& GetComment() const { return endOfCentralDirectory.Comment; }
    std::istream* GetInputStream() const { return inputStream; }

private:
    friend class ZipArchiveEntry;
    ZipArchive() = default;
    bool ReadEndOfCentralDirectory();
    bool ReadCentralDirectory();
    void ReadDirectoryFrom(std::istream& directory);

    // What one write carries from entry to entry: the output block, where the input stands
    // after the last stored copy (-1 when unknown), so that consecutive entries need no seek,
    // and the output position.
    struct WriteState
    {
        StagedOutput* staged = nullptr;
        std::streamoff inputPosition = -1;
        std::streamoff outputPosition = -1; // where the next byte goes, counted from the start
    };
    // Whether every count, length and name fits the format's 16-bit fields.
    bool FitsFormat() const;
    bool WriteArchive(std::ostream& stream, WriteState& state);
    bool WriteEntry(ZipArchiveEntry& entry, std::ostream& stream, WriteState& state);
    bool CopyStoredBytes(ZipArchiveEntry& entry, WriteState& state);
    static void WriteDescriptor(std::ostream& stream, uint32_t crc, uint32_t compressedSize,
                                uint32_t uncompressedSize);

    EndOfCentralDirectoryRecord endOfCentralDirectory;
    std::vector<std::shared_ptr<ZipArchiveEntry>> entries;
    std::istream* inputStream = nullptr;
    bool ownsStream = false;
    WriteFailure writeFailure = WriteFailure::None;
    int writeFailureCode = 0;
};
