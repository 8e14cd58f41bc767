#pragma once
// The archive reader target. It opens an archive from the input, reads every entry through its
// raw and decompression streams and the checking read, writes the archive to memory, and
// checks that a written archive reads back with the same entries and stored bytes.
#include "tests/fuzz/fuzz_support.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace fuzzing {

// Bounds on decoding, so that a small input claiming huge data cannot take the run's time.
constexpr size_t DecodeBudget = 8u << 20;
constexpr uint32_t VerifiedReadLimit = 4u << 20;

// False, with the failed check on stderr, when the written archive does not read back as the
// archive that was written.
inline bool ZipReaderOneInput(const uint8_t* data, size_t size)
{
    constexpr const char* Target = "zip_reader";
    auto archive = ZipArchive::Create(new basic_imemstream<char>(reinterpret_cast<const char*>(data), size));
    size_t budget = DecodeBudget;
    for (size_t i = 0; i < archive->GetEntriesCount(); ++i)
    {
        auto entry = archive->GetEntry(i);
        if (entry->IsEncrypted())
            entry->SetPassword("password");
        size_t rawBudget = DecodeBudget;
        Drain(entry->GetRawStream(), rawBudget);
        Drain(entry->GetDecompressionStream(), budget);
        entry->CloseStreams();
        if (entry->GetUncompressedSize() <= VerifiedReadLimit && budget >= entry->GetUncompressedSize())
        {
            std::vector<char> verified;
            entry->ReadVerifiedData(verified);
            budget -= std::min(budget, verified.size());
        }
    }

    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    archive->WriteToStream(out);
    if (!out.good())
        return true; // refusing to write a damaged archive is a correct outcome

    // A signature after the end record's own (in the comment, or formed with the comment length's
    // bytes) is rightly found first on reading: such an archive cannot read back the same.
    const std::string written = out.str();
    const size_t endRecord = written.size() - 22 - archive->GetComment().size();
    if (written.find(std::string("PK\x05\x06", 4), endRecord + 1) != std::string::npos)
        return true;
    auto copy = ZipArchive::Create(new std::istringstream(written, std::ios::in | std::ios::binary));
    if (copy->GetEntriesCount() != archive->GetEntriesCount())
        return Fail(Target, "entry count", "wrote " + std::to_string(archive->GetEntriesCount()) +
                                               " entries, read back " + std::to_string(copy->GetEntriesCount()));
    if (copy->GetComment() != archive->GetComment())
        return Fail(Target, "comment", Difference(archive->GetComment(), copy->GetComment()));
    // The raw streams above are used up: compare against the input opened afresh.
    auto original = ZipArchive::Create(new basic_imemstream<char>(reinterpret_cast<const char*>(data), size));
    if (original->GetEntriesCount() != archive->GetEntriesCount())
        return Fail(Target, "entry count on reopening", "first " + std::to_string(archive->GetEntriesCount()) +
                                                            " entries, then " +
                                                            std::to_string(original->GetEntriesCount()));
    for (size_t i = 0; i < archive->GetEntriesCount(); ++i)
    {
        auto a = original->GetEntry(i);
        auto b = copy->GetEntry(i);
        const std::string which = "entry " + std::to_string(i) + " " + Printable(a->GetFullName());
        if (a->GetFullName() != b->GetFullName())
            return Fail(Target, "name", which + " read back as " + Printable(b->GetFullName()));
        // A folder is written without data: stored, without encryption, data descriptor or the
        // options of a method it no longer has.
        uint16_t flags = a->GetGeneralPurposeBitFlag();
        if (a->IsDirectory())
        {
            flags &= static_cast<uint16_t>(~(FlagEncrypted | FlagDataDescriptor));
            if (a->GetCompressionMethod() != 0)
                flags &= static_cast<uint16_t>(~0x0006);
            if (b->GetCompressionMethod() != 0)
                return Fail(Target, "folder method", which + ": written with method " +
                                                         std::to_string(b->GetCompressionMethod()));
        }
        if (a->GetCrc32() != b->GetCrc32() || a->GetCompressedSize() != b->GetCompressedSize() ||
            flags != b->GetGeneralPurposeBitFlag())
            return Fail(Target, "header", which + ": CRC-32, compressed size or flags differ after writing");
        size_t budgetA = DecodeBudget, budgetB = DecodeBudget;
        const std::string stored = Drain(a->GetRawStream(), budgetA);
        const std::string copied = Drain(b->GetRawStream(), budgetB);
        if (stored != copied)
            return Fail(Target, "stored bytes", which + ": " + Difference(stored, copied));
    }
    return true;
}

} // namespace fuzzing
