#pragma once
// One ZIP archive: opened on a seekable input stream (which it then owns), it lists its
// entries in archive order, creates and removes entries, and writes itself to another stream.
// Local headers and stored bytes are read from the input on demand, also while writing, so
// the input must stay open and unchanged for the archive's life.
#include "zip/ZipArchiveEntry.h"
#include "zip/ZipRecords.h"

#include <ctime>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class StagedOutput;

// Why the last WriteToStream failed. The output stream's state says that it failed; this says why.
// (ZipArchiveEntry.h declares it ahead: an entry keeps the cause of a failed compression at once.)
enum class WriteFailure : int
{
    None,             // the last write succeeded, or none was made
    TooManyEntries,   // more than 65,535 entries: the format counts them in 16 bits
    FieldTooLong,     // a name, comment or extra area longer than its 16-bit length allows
    OffsetTooLarge,   // a position or size at or past 4 GiB: no 64-bit records are written
    CodecFailed,      // an entry's compression library failed; GetWriteFailureCode gives its result
    SourceFailed,     // the stream given as an entry's new data broke, or could not be read twice
    InputFailed,      // the archive's own input failed or ended short: a local header or stored bytes
    PositionMismatch, // the output's position disagrees with the bytes written to it
    OutputFailed,     // the output stream refused the bytes, or cannot tell or change its position
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
    // A name that is UTF-8 beyond plain ASCII gets the general-purpose flag saying so.
    std::shared_ptr<ZipArchiveEntry> CreateEntry(const std::string& name);
    // The removed entry no longer refers to this archive: it is never written, and asking it
    // for data that lie in the archive gives null or an empty stream. Streams it handed out
    // earlier stay readable while the archive lives and end when it goes.
    void RemoveEntry(size_t index);
    // Every failure ends in the output stream's state; the caller inspects it.
    void WriteToStream(std::ostream& stream);
    // The cause of the last failed write, and for a codec failure the library's return code.
    WriteFailure GetWriteFailure() const { return writeFailure; }
    int GetWriteFailureCode() const { return writeFailureCode; }

    const std::string& GetComment() const { return endOfCentralDirectory.Comment; }
    std::istream* GetInputStream() const { return inputStream; }

    // Where CreateEntry takes the current time from (seconds since 1970, turned into local
    // time); the system clock unless set. An empty function restores the system clock.
    void SetClock(std::function<std::time_t()> newClock) { clock = std::move(newClock); }

private:
    friend class ZipArchiveEntry;
    ZipArchive() = default;
    bool ReadEndOfCentralDirectory();
    bool ReadCentralDirectory();
    void ReadDirectoryFrom(std::istream& directory);

    // What one write carries from entry to entry: the output block, the output position, and
    // what an exception passing through would mean. The input's position is never carried:
    // other readers of the same input (streams handed out, sources read on writing) move it.
    struct WriteState
    {
        StagedOutput* staged = nullptr;
        std::streamoff outputPosition = -1; // where the next byte goes, counted from the start
        WriteFailure activity = WriteFailure::OutputFailed;
    };
    // None when every count, length and name fits the format's 16-bit fields.
    WriteFailure CheckFormatLimits() const;
    // Records the first cause of a failing write; always false.
    bool Fail(WriteFailure cause, int code = 0);
    bool WriteArchive(std::ostream& stream, WriteState& state);
    bool WriteEntry(ZipArchiveEntry& entry, std::ostream& stream, WriteState& state);
    bool CopyStoredBytes(ZipArchiveEntry& entry, WriteState& state);
    // Makes the entry forget this archive and ends its streams over the input.
    void Detach(ZipArchiveEntry& entry);
    static void WriteDescriptor(std::ostream& stream, uint32_t crc, uint32_t compressedSize,
                                uint32_t uncompressedSize);

    EndOfCentralDirectoryRecord endOfCentralDirectory;
    std::vector<std::shared_ptr<ZipArchiveEntry>> entries;
    std::istream* inputStream = nullptr;
    bool ownsStream = false;
    WriteFailure writeFailure = WriteFailure::None;
    int writeFailureCode = 0;
    std::function<std::time_t()> clock;
    // Removed entries that somebody still held: their streams over the input end with the archive.
    std::vector<std::weak_ptr<ZipArchiveEntry>> removedEntries;
    size_t removedPruneAt = 16;
    // The listed entries' names, so that CreateEntry's test for a taken name costs no walk over
    // every entry. The views point into the entries' headers: any change of a name, and any
    // removal, makes the index stale, and the next CreateEntry builds it again.
    std::unordered_set<std::string_view> nameIndex;
    bool nameIndexValid = false;
};
