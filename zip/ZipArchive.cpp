#include "zip/ZipArchive.h"

#include "zip/CopyStream.h"
#include "zip/StagedOutput.h"
#include "zip/Utf8.h"
#include "zip/mem_stream.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

constexpr uint64_t MaxField16 = 0xFFFFu;
constexpr uint64_t MaxField32 = 0xFFFFFFFFu;
constexpr uint16_t VersionMadeByLibrary = 63;
constexpr uint16_t VersionNeededDefault = 10;
constexpr std::streamoff EndRecordFixedSize = 22;
// The search starts this far before the end, so that a record without comment is found at
// the fifth position tried.
constexpr std::streamoff EndRecordSearchStart = 18;
// A directory (with the end record after it) up to this size is read into memory at once.
constexpr std::streamoff InMemoryDirectoryLimit = 64 << 20;

uint64_t ExtraAreaSize(const std::vector<ExtraField>& fields)
{
    uint64_t size = 0;
    for (const auto& field : fields)
        size += 4 + field.Data.size();
    return size;
}

void DosTime(std::time_t when, uint16_t& dosTime, uint16_t& dosDate)
{
    std::tm local{};
    localtime_r(&when, &local);
    // Two-second steps: the DOS time has 5 bits for the seconds.
    dosTime = static_cast<uint16_t>(local.tm_hour * 2048 + local.tm_min * 32 + local.tm_sec / 2);
    dosDate = static_cast<uint16_t>((local.tm_year + 1900 - 1980) * 512 + (local.tm_mon + 1) * 32 + local.tm_mday);
}

constexpr std::streamoff DescriptorSize = 16;
constexpr uint16_t FolderVersionNeeded = 20;
// Bits 1 and 2: options of the method that made the data (deflate's level, LZMA's end marker).
constexpr uint16_t FlagsMethodOptions = 0x0006;

// A folder is written without data, whatever was stored for it (Python compresses an empty
// folder entry into a few bytes of deflate, bzip2 or LZMA), so its headers must describe no
// data: method stored, no encryption (there is nothing to encrypt, not even the 12-byte header)
// and no data descriptor (none follows). The old method's options go with it, and a version
// needed that was raised for that method comes down to a folder's.
void PrepareFolderHeaders(CentralDirectoryFileHeader& header)
{
    header.Crc32 = 0;
    header.CompressedSize = 0;
    header.UncompressedSize = 0;
    header.GeneralPurposeBitFlag &= static_cast<uint16_t>(~(FlagEncrypted | FlagDataDescriptor));
    if (header.CompressionMethod != 0)
    {
        header.CompressionMethod = 0;
        header.GeneralPurposeBitFlag &= static_cast<uint16_t>(~FlagsMethodOptions);
        header.VersionNeededToExtract = std::min(header.VersionNeededToExtract, FolderVersionNeeded);
    }
}

std::streamoff LocalHeaderSize(const LocalFileHeader& header)
{
    return 30 + static_cast<std::streamoff>(header.FileName.size() + ExtraAreaSize(header.ExtraFields));
}

// Marks the output failed; with an exception mask on the output, this throws.
void FailOutput(std::ostream& stream)
{
    stream.setstate(std::ios::badbit);
}

// The output's position as a 32-bit archive offset, or false when it has none or it is too large.
bool OutputOffset(std::ostream& stream, uint32_t& offset)
{
    const std::streampos position = stream.tellp();
    if (position < 0 || static_cast<uint64_t>(static_cast<std::streamoff>(position)) > MaxField32)
        return false;
    offset = static_cast<uint32_t>(static_cast<std::streamoff>(position));
    return true;
}

} // namespace

std::shared_ptr<ZipArchive> ZipArchive::Create(std::istream* stream)
{
    // The stream is ours from here on, also when making the archive fails.
    std::unique_ptr<std::istream> guard(stream);
    std::shared_ptr<ZipArchive> archive(new ZipArchive());
    archive->inputStream = guard.release();
    archive->ownsStream = archive->inputStream != nullptr;
    if (archive->inputStream)
    {
        // Without an end record there is no directory to read.
        if (archive->ReadEndOfCentralDirectory())
            archive->ReadCentralDirectory();
        archive->inputStream->clear();
    }
    return archive;
}

ZipArchive::~ZipArchive()
{
    // Entries that outlive the archive, and the streams they handed out, must not reach for its
    // input once it is gone.
    for (auto& entry : entries)
        Detach(*entry);
    for (auto& removed : removedEntries)
    {
        if (auto entry = removed.lock())
            Detach(*entry);
    }
    if (ownsStream)
        delete inputStream;
}

void ZipArchive::Detach(ZipArchiveEntry& entry)
{
    entry.DetachFrom(inputStream);
}

bool ZipArchive::ReadEndOfCentralDirectory()
{
    std::istream& input = *inputStream;
    input.clear();
    input.seekg(0, std::ios::end);
    const std::streamoff size = input.tellg();
    if (input.fail() || size < EndRecordSearchStart)
        return false;

    // The record (22 bytes and a comment of at most 65,535) lies within the tail. Read the tail
    // in one block and search it backwards from 18 bytes before the end, as a walk of one
    // seek per position would, without paying a seek and a read per byte.
    const std::streamoff tailStart = std::max<std::streamoff>(0, size - EndRecordFixedSize - 0xFFFF);
    std::vector<char> tail(static_cast<size_t>(size - tailStart));
    if (!SeekInputTo(input, tailStart))
        return false;
    input.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    const auto got = static_cast<std::streamoff>(input.gcount());

    const unsigned char signature[4] = {0x50, 0x4B, 0x05, 0x06};
    for (std::streamoff position = size - EndRecordSearchStart; position >= tailStart; --position)
    {
        const std::streamoff index = position - tailStart;
        if (index + 4 <= got && std::memcmp(tail.data() + index, signature, 4) == 0)
        {
            if (!SeekInputTo(input, position))
                return false;
            endOfCentralDirectory.Deserialize(input);
            return true;
        }
    }
    return false;
}

bool ZipArchive::ReadCentralDirectory()
{
    std::istream& input = *inputStream;
    const auto offset = static_cast<std::streamoff>(endOfCentralDirectory.CentralDirectoryOffset);
    input.clear();
    input.seekg(0, std::ios::end);
    const std::streamoff size = input.tellg();
    if (!input.fail() && offset <= size && size - offset <= InMemoryDirectoryLimit)
    {
        // The directory runs to the end record near the end of the file: read it in one block
        // and parse it in memory, where the header readers' many small reads and position
        // queries cost no system calls.
        std::vector<char> block(static_cast<size_t>(size - offset));
        if (!SeekInputTo(input, offset))
            return true;
        input.read(block.data(), static_cast<std::streamsize>(block.size()));
        block.resize(static_cast<size_t>(input.gcount()));
        basic_imemstream<char> directory(block.data(), block.size());
        ReadDirectoryFrom(directory);
    }
    else if (SeekInputTo(input, offset))
    {
        ReadDirectoryFrom(input);
    }
    return true;
}

void ZipArchive::ReadDirectoryFrom(std::istream& directory)
{
    // The directory ends at the first header refused, as a rule at the end record.
    for (;;)
    {
        CentralDirectoryFileHeader header;
        if (!header.Deserialize(directory))
            break;
        if (!ZipArchiveEntry::IsValidFileName(header.FileName))
            continue;
        std::shared_ptr<ZipArchiveEntry> entry(new ZipArchiveEntry());
        entry->archive = this;
        entry->centralHeader = std::move(header);
        entry->isInArchive = true;
        const std::string name = entry->centralHeader.FileName;
        entry->SetFullName(name);
        const std::string& normalized = entry->centralHeader.FileName;
        entry->SetDirectoryFlag(!normalized.empty() && normalized.back() == '/');
        entries.push_back(std::move(entry));
    }
}

std::shared_ptr<ZipArchiveEntry> ZipArchive::CreateEntry(const std::string& name)
{
    if (!nameIndexValid)
    {
        nameIndex.clear();
        nameIndex.reserve(entries.size() + entries.size() / 4);
        for (const auto& entry : entries)
            nameIndex.insert(entry->centralHeader.FileName);
        nameIndexValid = true;
    }
    if (nameIndex.count(name) != 0)
        return nullptr;
    if (!ZipArchiveEntry::IsValidFileName(name))
        return nullptr;
    // A name length is a 16-bit field: a longer name could not be written.
    if (ZipArchiveEntry::NormalizeName(name).size() > MaxField16)
        return nullptr;

    std::shared_ptr<ZipArchiveEntry> entry(new ZipArchiveEntry());
    entry->hasNewData = true;
    entry->centralHeader.VersionMadeBy = VersionMadeByLibrary;
    entry->centralHeader.VersionNeededToExtract = VersionNeededDefault;
    const std::time_t now = clock ? clock() : std::time(nullptr);
    DosTime(now, entry->centralHeader.LastModificationTime, entry->centralHeader.LastModificationDate);
    entry->SetFullName(name);
    entry->centralHeader.CompressionMethod = 0;
    if (IsUtf8BeyondAscii(entry->centralHeader.FileName))
        entry->centralHeader.GeneralPurposeBitFlag |= FlagUtf8;
    // Named before it belongs to the archive, so that naming it leaves the index valid.
    entry->archive = this;
    entries.push_back(entry);
    nameIndex.insert(entry->centralHeader.FileName);
    return entry;
}

void ZipArchive::RemoveEntry(size_t index)
{
    if (index >= entries.size())
        return;
    std::shared_ptr<ZipArchiveEntry> entry = std::move(entries[index]);
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    nameIndexValid = false;
    // From now on the entry reaches nothing of the archive. Streams it handed out over the input
    // (a caller may still be reading one, say as another entry's new data) stay readable until
    // the archive goes, so the archive remembers the entry while somebody holds it.
    entry->archive = nullptr;
    if (entry.use_count() > 1)
    {
        if (removedEntries.size() >= removedPruneAt)
        {
            removedEntries.erase(std::remove_if(removedEntries.begin(), removedEntries.end(),
                                                [](const std::weak_ptr<ZipArchiveEntry>& e) { return e.expired(); }),
                                 removedEntries.end());
            removedPruneAt = std::max<size_t>(16, 2 * removedEntries.size());
        }
        removedEntries.push_back(entry);
    }
}

WriteFailure ZipArchive::CheckFormatLimits() const
{
    if (entries.size() > MaxField16)
        return WriteFailure::TooManyEntries;
    if (endOfCentralDirectory.Comment.size() > MaxField16)
        return WriteFailure::FieldTooLong;
    for (const auto& entry : entries)
    {
        const CentralDirectoryFileHeader& header = entry->centralHeader;
        if (header.FileName.size() > MaxField16 || header.FileComment.size() > MaxField16 ||
            ExtraAreaSize(header.ExtraFields) > MaxField16)
            return WriteFailure::FieldTooLong;
    }
    return WriteFailure::None;
}

bool ZipArchive::Fail(WriteFailure cause, int code)
{
    // The first cause counts: what fails after it follows from it.
    if (writeFailure == WriteFailure::None)
    {
        writeFailure = cause;
        writeFailureCode = code;
    }
    return false;
}

void ZipArchive::WriteToStream(std::ostream& target)
{
    writeFailure = WriteFailure::None;
    writeFailureCode = 0;
    // Nothing is written when the archive cannot be expressed without 64-bit records.
    const WriteFailure limit = CheckFormatLimits();
    if (limit != WriteFailure::None)
    {
        Fail(limit);
        FailOutput(target);
        return;
    }
    WriteState state;
    state.outputPosition = target.tellp();
    // Everything goes out through one block of 1 MiB, in writes of that size.
    StagedOutput staged(target, CopyBufferSize);
    std::ostream stream(&staged);
    state.staged = &staged;
    bool written;
    try
    {
        written = WriteArchive(stream, state);
        state.activity = WriteFailure::OutputFailed;
        if (written && (!staged.Drain() || stream.bad()))
            written = Fail(WriteFailure::OutputFailed);
    }
    catch (...)
    {
        // The exception passes on; the cause says what was being done when it came.
        Fail(state.activity);
        throw;
    }
    if (!written)
        FailOutput(target);
}

bool ZipArchive::WriteArchive(std::ostream& stream, WriteState& state)
{
    for (const auto& entry : entries)
    {
        if (!WriteEntry(*entry, stream, state))
            return false;
    }

    // The counted position must agree with the stream's own before it goes into the directory.
    const std::streampos directoryPosition = stream.tellp();
    if (directoryPosition < 0)
        return Fail(WriteFailure::OutputFailed);
    if (static_cast<std::streamoff>(directoryPosition) != state.outputPosition)
        return Fail(WriteFailure::PositionMismatch);
    uint32_t directoryStart = 0;
    if (!OutputOffset(stream, directoryStart))
        return Fail(WriteFailure::OffsetTooLarge);
    for (const auto& entry : entries)
    {
        entry->centralHeader.RelativeOffsetOfLocalHeader =
            static_cast<uint32_t>(static_cast<std::streamoff>(entry->localHeaderPosition));
        entry->centralHeader.Serialize(stream);
    }
    if (stream.bad())
        return Fail(WriteFailure::OutputFailed);
    uint32_t directoryEnd = 0;
    if (!OutputOffset(stream, directoryEnd))
        return Fail(stream.tellp() < 0 ? WriteFailure::OutputFailed : WriteFailure::OffsetTooLarge);

    endOfCentralDirectory.NumberOfThisDisk = 0;
    endOfCentralDirectory.DiskWithCentralDirectory = 0;
    endOfCentralDirectory.EntriesOnThisDisk = static_cast<uint16_t>(entries.size());
    endOfCentralDirectory.TotalEntries = static_cast<uint16_t>(entries.size());
    endOfCentralDirectory.CentralDirectorySize = directoryEnd - directoryStart;
    endOfCentralDirectory.CentralDirectoryOffset = directoryStart;
    endOfCentralDirectory.Serialize(stream);
    return stream.bad() ? Fail(WriteFailure::OutputFailed) : true;
}

bool ZipArchive::WriteEntry(ZipArchiveEntry& entry, std::ostream& stream, WriteState& state)
{
    enum class Source { None, NewData, Stored };
    Source source = Source::None;
    if (!entry.IsDirectory())
    {
        if (entry.dataSource)
            source = Source::NewData;
        else if (!entry.hasNewData)
            source = Source::Stored;
    }

    state.activity = WriteFailure::InputFailed;
    if (!entry.isLocalHeaderRead)
        entry.ReadLocalFileHeader();
    if (entry.IsDirectory())
        PrepareFolderHeaders(entry.centralHeader);
    if (source == Source::NewData)
        entry.PrepareHeadersForNewData();
    // The central header is the truth; the local copy follows it on every write.
    entry.SyncLocalHeader();
    if (ExtraAreaSize(entry.localHeader.ExtraFields) > MaxField16)
        return Fail(WriteFailure::FieldTooLong);

    // Positions are counted as the bytes go out rather than asked of the stream per entry.
    if (state.outputPosition < 0)
        return Fail(WriteFailure::OutputFailed);
    if (static_cast<uint64_t>(state.outputPosition) > MaxField32)
        return Fail(WriteFailure::OffsetTooLarge);
    state.activity = WriteFailure::OutputFailed;
    entry.localHeaderPosition = state.outputPosition;
    const bool hasDescriptor = (entry.centralHeader.GeneralPurposeBitFlag & FlagDataDescriptor) != 0;
    if (hasDescriptor)
    {
        entry.localHeader.Crc32 = 0;
        entry.localHeader.CompressedSize = 0;
        entry.localHeader.UncompressedSize = 0;
    }
    entry.localHeader.Serialize(stream);
    state.outputPosition += LocalHeaderSize(entry.localHeader);

    if (source == Source::NewData)
    {
        // The source is read to its end here, before anything else reads the archive's input.
        state.activity = WriteFailure::SourceFailed;
        const bool compressed = entry.CompressInto(*entry.dataSource, stream);
        state.activity = WriteFailure::OutputFailed;
        if (!compressed)
            return Fail(entry.compressFailure, entry.compressFailureCode);
        state.outputPosition += entry.centralHeader.CompressedSize;
        if (hasDescriptor)
        {
            WriteDescriptor(stream, entry.localHeader.Crc32, entry.localHeader.CompressedSize,
                            entry.localHeader.UncompressedSize);
            state.outputPosition += DescriptorSize;
        }
        else
        {
            // Go back and write the header again, now with the checksum and sizes.
            const std::streampos dataEnd = stream.tellp();
            if (dataEnd < 0)
                return Fail(WriteFailure::OutputFailed);
            if (dataEnd != std::streampos(state.outputPosition))
                return Fail(WriteFailure::PositionMismatch);
            stream.seekp(entry.localHeaderPosition);
            entry.SyncLocalHeader();
            entry.localHeader.Serialize(stream);
            stream.seekp(dataEnd);
            if (stream.fail())
                return Fail(WriteFailure::OutputFailed);
        }
    }
    else if (source == Source::Stored)
    {
        if (!CopyStoredBytes(entry, state))
            return false;
        state.outputPosition += entry.centralHeader.CompressedSize;
        if (hasDescriptor)
        {
            WriteDescriptor(stream, entry.centralHeader.Crc32, entry.centralHeader.CompressedSize,
                            entry.centralHeader.UncompressedSize);
            state.outputPosition += DescriptorSize;
        }
    }
    return stream.bad() ? Fail(WriteFailure::OutputFailed) : true;
}

bool ZipArchive::CopyStoredBytes(ZipArchiveEntry& entry, WriteState& state)
{
    const uint64_t size = entry.centralHeader.CompressedSize;
    std::istream* input = nullptr;
    if (entry.compressedData)
    {
        // A failure while compressing at once left the data incomplete.
        if (entry.compressedData->bad())
        {
            const WriteFailure cause = entry.compressFailure == WriteFailure::None ? WriteFailure::SourceFailed
                                                                                    : entry.compressFailure;
            return Fail(cause, entry.compressFailureCode);
        }
        input = entry.compressedData.get();
        if (!SeekInputTo(*input, 0))
            return Fail(WriteFailure::SourceFailed);
    }
    else if (entry.isInArchive && inputStream && entry.dataStart >= 0)
    {
        // Only bytes behind a local header that was read correctly are copied, and always from
        // where the header says: something else may have read the input since.
        input = inputStream;
        state.activity = WriteFailure::InputFailed;
        if (!PositionInputAt(*input, entry.dataStart))
            return Fail(WriteFailure::InputFailed);
    }
    if (!input)
        return size == 0 ? true : Fail(WriteFailure::InputFailed);

    // Read the whole range straight into the output block, which goes out whenever it is full;
    // nothing else reads the input in between.
    uint64_t copied = 0;
    while (copied < size)
    {
        if (state.staged->Space() == 0)
        {
            state.activity = WriteFailure::OutputFailed;
            if (!state.staged->Drain())
                return Fail(WriteFailure::OutputFailed);
            state.activity = WriteFailure::InputFailed;
        }
        const auto want = static_cast<std::streamsize>(std::min<uint64_t>(state.staged->Space(), size - copied));
        input->read(state.staged->Cursor(), want);
        const std::streamsize got = input->gcount();
        state.staged->Advance(static_cast<size_t>(got));
        copied += static_cast<uint64_t>(got);
        if (got < want)
            break;
    }
    state.activity = WriteFailure::OutputFailed;
    // A stored range cut short by the end of the input must not pass for the entry's data.
    return copied == size ? true : Fail(WriteFailure::InputFailed);
}

void ZipArchive::WriteDescriptor(std::ostream& stream, uint32_t crc, uint32_t compressedSize, uint32_t uncompressedSize)
{
    DataDescriptor descriptor;
    descriptor.Crc32 = crc;
    descriptor.CompressedSize = compressedSize;
    descriptor.UncompressedSize = uncompressedSize;
    descriptor.Serialize(stream);
}
