#include "zip/ZipArchive.h"

#include "zip/CopyStream.h"
#include "zip/StagedOutput.h"
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

void DosTimeNow(uint16_t& dosTime, uint16_t& dosDate)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    dosTime = static_cast<uint16_t>(local.tm_hour * 2048 + local.tm_min * 32 + local.tm_sec / 2);
    dosDate = static_cast<uint16_t>((local.tm_year + 1900 - 1980) * 512 + (local.tm_mon + 1) * 32 + local.tm_mday);
}

constexpr std::streamoff DescriptorSize = 16;

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
    // Entries that outlive the archive must not reach for its stream.
    for (auto& entry : entries)
        entry->archive = nullptr;
    if (ownsStream)
        delete inputStream;
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
    for (const auto& entry : entries)
    {
        if (entry->centralHeader.FileName == name)
            return nullptr;
    }
    if (!ZipArchiveEntry::IsValidFileName(name))
        return nullptr;
    // A name length is a 16-bit field: a longer name could not be written.
    if (ZipArchiveEntry::NormalizeName(name).size() > MaxField16)
        return nullptr;

    std::shared_ptr<ZipArchiveEntry> entry(new ZipArchiveEntry());
    entry->archive = this;
    entry->hasNewData = true;
    entry->centralHeader.VersionMadeBy = VersionMadeByLibrary;
    entry->centralHeader.VersionNeededToExtract = VersionNeededDefault;
    DosTimeNow(entry->centralHeader.LastModificationTime, entry->centralHeader.LastModificationDate);
    entry->SetFullName(name);
    entry->centralHeader.CompressionMethod = 0;
    entries.push_back(entry);
    return entry;
}

void ZipArchive::RemoveEntry(size_t index)
{
    if (index < entries.size())
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
}

bool ZipArchive::FitsFormat() const
{
    if (entries.size() > MaxField16 || endOfCentralDirectory.Comment.size() > MaxField16)
        return false;
    for (const auto& entry : entries)
    {
        const CentralDirectoryFileHeader& header = entry->centralHeader;
        if (header.FileName.size() > MaxField16 || header.FileComment.size() > MaxField16 ||
            ExtraAreaSize(header.ExtraFields) > MaxField16)
            return false;
    }
    return true;
}

void ZipArchive::WriteToStream(std::ostream& target)
{
    // Nothing is written when the archive cannot be expressed without 64-bit records.
    if (!FitsFormat())
    {
        FailOutput(target);
        return;
    }
    WriteState state;
    state.outputPosition = target.tellp();
    // Everything goes out through one block of 1 MiB, in writes of that size.
    StagedOutput staged(target, CopyBufferSize);
    std::ostream stream(&staged);
    state.staged = &staged;
    if (!WriteArchive(stream, state) || !staged.Drain() || stream.bad())
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
    uint32_t directoryStart = 0;
    if (!OutputOffset(stream, directoryStart) || directoryStart != state.outputPosition)
        return false;
    for (const auto& entry : entries)
    {
        entry->centralHeader.RelativeOffsetOfLocalHeader =
            static_cast<uint32_t>(static_cast<std::streamoff>(entry->localHeaderPosition));
        entry->centralHeader.Serialize(stream);
    }
    uint32_t directoryEnd = 0;
    if (!OutputOffset(stream, directoryEnd))
        return false;

    endOfCentralDirectory.NumberOfThisDisk = 0;
    endOfCentralDirectory.DiskWithCentralDirectory = 0;
    endOfCentralDirectory.EntriesOnThisDisk = static_cast<uint16_t>(entries.size());
    endOfCentralDirectory.TotalEntries = static_cast<uint16_t>(entries.size());
    endOfCentralDirectory.CentralDirectorySize = directoryEnd - directoryStart;
    endOfCentralDirectory.CentralDirectoryOffset = directoryStart;
    endOfCentralDirectory.Serialize(stream);
    return !stream.bad();
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

    if (!entry.isLocalHeaderRead)
    {
        // Consecutive entries follow each other in the input: no seek between them.
        const auto headerOffset = static_cast<std::streamoff>(entry.centralHeader.RelativeOffsetOfLocalHeader);
        entry.LoadLocalHeader(entry.isInArchive && state.inputPosition == headerOffset);
        // Reading the local header leaves the input at the entry's first stored byte.
        if (entry.isInArchive)
            state.inputPosition = entry.dataStart;
    }
    if (entry.IsDirectory())
    {
        // A folder carries no data, whatever it was given: its headers must say so.
        entry.centralHeader.Crc32 = 0;
        entry.centralHeader.CompressedSize = 0;
        entry.centralHeader.UncompressedSize = 0;
    }
    if (source == Source::NewData)
        entry.PrepareHeadersForNewData();
    // The central header is the truth; the local copy follows it on every write.
    entry.SyncLocalHeader();
    if (ExtraAreaSize(entry.localHeader.ExtraFields) > MaxField16)
        return false;

    // Positions are counted as the bytes go out rather than asked of the stream per entry.
    if (state.outputPosition < 0 || static_cast<uint64_t>(state.outputPosition) > MaxField32)
        return false;
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
        if (!entry.CompressInto(*entry.dataSource, stream))
            return false;
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
            if (dataEnd != std::streampos(state.outputPosition))
                return false;
            stream.seekp(entry.localHeaderPosition);
            entry.SyncLocalHeader();
            entry.localHeader.Serialize(stream);
            stream.seekp(dataEnd);
            if (stream.fail())
                return false;
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
    return !stream.bad();
}

bool ZipArchive::CopyStoredBytes(ZipArchiveEntry& entry, WriteState& state)
{
    const uint64_t size = entry.centralHeader.CompressedSize;
    std::istream* input = nullptr;
    if (entry.compressedData)
    {
        // A failure while compressing at once left the data incomplete.
        if (entry.compressedData->bad())
            return false;
        input = entry.compressedData.get();
        if (!SeekInputTo(*input, 0))
            return false;
    }
    else if (entry.isInArchive && inputStream && entry.dataStart >= 0)
    {
        // Only bytes behind a local header that was read correctly are copied.
        input = inputStream;
        if (state.inputPosition != entry.dataStart || input->fail())
        {
            if (!SeekInputTo(*input, entry.dataStart))
                return false;
        }
    }
    if (!input)
        return size == 0;

    // Read straight into the output block; it goes out whenever it is full.
    uint64_t copied = 0;
    while (copied < size)
    {
        if (state.staged->Space() == 0 && !state.staged->Drain())
            return false;
        const auto want = static_cast<std::streamsize>(std::min<uint64_t>(state.staged->Space(), size - copied));
        input->read(state.staged->Cursor(), want);
        const std::streamsize got = input->gcount();
        state.staged->Advance(static_cast<size_t>(got));
        copied += static_cast<uint64_t>(got);
        if (got < want)
            break;
    }
    if (input == inputStream)
        state.inputPosition = copied == size ? static_cast<std::streamoff>(entry.dataStart) + size : -1;
    // A stored range cut short by the end of the input must not pass for the entry's data.
    return copied == size;
}

void ZipArchive::WriteDescriptor(std::ostream& stream, uint32_t crc, uint32_t compressedSize, uint32_t uncompressedSize)
{
    DataDescriptor descriptor;
    descriptor.Crc32 = crc;
    descriptor.CompressedSize = compressedSize;
    descriptor.UncompressedSize = uncompressedSize;
    descriptor.Serialize(stream);
}
