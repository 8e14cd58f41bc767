#pragma once
// The archive target: the input is a short program that builds an archive (entries with
// fuzz-chosen names, data, methods, settings, modes and passwords; folders; removals; entries
// filled from another entry's decompression stream) and now and then writes it and starts over
// on what was written. After every write the written bytes are read back: the same entries in
// the same order, with the names the library gives them, and the same data through the checking
// read. Written again unchanged, the archive read back gives the same bytes.
//
// Program, one operation after another until the input ends:
//   0-2  add a file: name, then data (see GiveData); 1 in 8 files gets no data at all
//   3    add a folder: name, then '/' or '\' by a flag
//   4    remove: index (the entry is kept, and asked for its data once the archive is gone)
//   5    write, check, and start over on the written bytes
//   6    give an entry new data: index, then data
//   7    fill an entry from a decompression stream: source index, a flag for a new entry (then
//        its name) or an index of an entry to fill, then method and mode
// Names are up to 12 bytes, mostly of "ab/\." (so that names collide, nest and need
// normalising), now and then any byte.
#include "tests/fuzz/fuzz_support.h"
#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fuzzing {

namespace archive_roundtrip {

constexpr const char* Target = "archive_roundtrip";
constexpr size_t MaxOperations = 40;
constexpr int MaxRewrites = 3;
constexpr size_t DataBudget = 512u << 10; // all entry data of one input together

// What an entry must read back as.
struct Expected
{
    std::shared_ptr<ZipArchiveEntry> entry;
    std::string name; // the full name the library must give it
    bool folder = false;
    std::string data;
    std::string password;
    std::string how;     // how the entry got its data, for reports
    bool stored = false; // read from the archive, and not given data since: it can be decompressed
    bool lent = false;   // its decompression stream feeds another entry: it stays as it is
};

// The name the library makes of a given one: backslashes become slashes, leading separators
// go, runs of separators collapse. Written out here so that a change in the library shows.
inline std::string NormalizedName(const std::string& given)
{
    std::string name;
    for (char c : given)
    {
        if (c == '\\')
            c = '/';
        if (c == '/' && (name.empty() || name.back() == '/'))
            continue;
        name += c;
    }
    return name;
}

inline const char* MethodName(uint16_t id)
{
    switch (id)
    {
    case 0:
        return "stored";
    case 8:
        return "deflate";
    case 12:
        return "bzip2";
    default:
        return "LZMA";
    }
}

inline const char* FailureName(WriteFailure failure)
{
    switch (failure)
    {
    case WriteFailure::None:
        return "none given";
    case WriteFailure::TooManyEntries:
        return "too many entries";
    case WriteFailure::FieldTooLong:
        return "field too long";
    case WriteFailure::OffsetTooLarge:
        return "offset too large";
    case WriteFailure::CodecFailed:
        return "codec failed";
    case WriteFailure::SourceFailed:
        return "source failed";
    case WriteFailure::InputFailed:
        return "input failed";
    case WriteFailure::PositionMismatch:
        return "position mismatch";
    case WriteFailure::OutputFailed:
        return "output failed";
    }
    return "unknown";
}

// Why an archive's last write failed, for reports.
inline uint32_t Crc32Of(const std::string& data)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline std::string FailureOf(const ZipArchive& archive)
{
    return std::string("cause ") + FailureName(archive.GetWriteFailure()) + ", library result " +
           std::to_string(archive.GetWriteFailureCode());
}

class Session
{
public:
    explicit Session(FuzzInput& input) : input(input), archive(ZipArchive::Create(nullptr)) {}

    bool Run()
    {
        for (size_t step = 0; step < MaxOperations && !input.Empty(); ++step)
        {
            bool ok = true;
            switch (input.Byte() % 8)
            {
            case 0:
            case 1:
            case 2:
                ok = AddEntry(false);
                break;
            case 3:
                ok = AddEntry(true);
                break;
            case 4:
                Remove();
                break;
            case 5:
                if (rewrites < MaxRewrites)
                {
                    ++rewrites;
                    ok = WriteAndStartOver();
                }
                break;
            case 6:
                ok = Replace();
                break;
            default:
                ok = FillFromStream();
                break;
            }
            if (!ok)
                return false;
        }
        std::string written;
        if (!WriteAndCheck(written))
            return false;
        archive.reset();
        ProbeRemoved();
        return true;
    }

private:
    std::string Which(size_t index) const
    {
        const Expected& e = entries[index];
        return "entry " + std::to_string(index) + " " + Printable(e.name) + " (" + e.how + ")";
    }

    std::string Name()
    {
        static const char alphabet[] = {'a', 'b', '/', '\\', '.'};
        std::string name;
        const size_t length = input.Number(12);
        for (size_t i = 0; i < length; ++i)
        {
            const uint8_t b = input.Byte();
            name += b < 200 ? alphabet[b % sizeof alphabet] : static_cast<char>(input.Byte());
        }
        return name;
    }

    std::shared_ptr<ICompressionMethod> Method(std::string& how)
    {
        switch (input.Byte() % 4)
        {
        case 0:
            how = "stored";
            return std::make_shared<StoreMethod>();
        case 1:
        {
            auto method = std::make_shared<DeflateMethod>();
            auto& properties = method->GetEncoderProperties();
            properties.CompressionLevel = input.Byte() % 10;
            properties.BufferCapacity = 1 + input.Number(65535);
            how = "deflate level " + std::to_string(properties.CompressionLevel);
            return method;
        }
        case 2:
        {
            auto method = std::make_shared<Bzip2Method>();
            auto& properties = method->GetEncoderProperties();
            properties.BlockSize = 1 + input.Byte() % 9;
            properties.BufferCapacity = 1 + input.Number(65535);
            how = "bzip2 block size " + std::to_string(properties.BlockSize);
            return method;
        }
        default:
        {
            auto method = std::make_shared<LzmaMethod>();
            auto& properties = method->GetEncoderProperties();
            // Levels 0 to 2 keep the dictionary small, so that an input runs fast.
            properties.CompressionLevel = input.Byte() % 3;
            properties.IsMultithreaded = input.Flag();
            how = "LZMA level " + std::to_string(properties.CompressionLevel);
            return method;
        }
        }
    }

    EntryCompressionMode Mode(std::string& how)
    {
        const bool onWrite = input.Flag();
        how += onWrite ? ", CompressOnWrite" : ", CompressAtOnce";
        return onWrite ? CompressOnWrite : CompressAtOnce;
    }

    // Creates an entry as the library should: refused for a name taken byte for byte or one
    // made of separators only, otherwise with the normalised name.
    bool Create(const std::string& given, bool& created)
    {
        const bool valid = given.find_first_not_of("/\\") != std::string::npos;
        bool taken = false;
        for (const auto& e : entries)
            taken = taken || e.name == given;
        auto entry = archive->CreateEntry(given);
        created = entry != nullptr;
        if (created != (valid && !taken))
            return Fail(Target, "create entry", "name " + Printable(given) + (created ? " was" : " was not") +
                                                    " accepted");
        if (!entry)
            return true;
        Expected e;
        e.entry = entry;
        e.name = NormalizedName(given);
        e.folder = given.back() == '/' || given.back() == '\\';
        e.how = e.folder ? "new folder" : "new, no data";
        if (entry->GetFullName() != e.name || entry->IsDirectory() != e.folder)
            return Fail(Target, "name on creation", "name " + Printable(given) + " became " +
                                                        Printable(entry->GetFullName()) +
                                                        (entry->IsDirectory() ? ", a folder" : ", a file"));
        entries.push_back(e);
        return true;
    }

    bool AddEntry(bool folder)
    {
        std::string given = Name();
        if (folder)
            given += input.Flag() ? '/' : '\\';
        bool created = false;
        if (!Create(given, created))
            return false;
        if (!created || folder || input.Byte() % 8 == 0)
            return true;
        return GiveData(entries.size() - 1);
    }

    void Remove()
    {
        if (entries.empty())
            return;
        const size_t index = input.Number(static_cast<uint32_t>(entries.size() - 1));
        if (entries[index].lent)
            return;
        archive->RemoveEntry(index);
        removed.push_back(entries[index].entry);
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    }

    // Entries removed from an archive that is gone: asking them for data must not reach it.
    // What they give is not checked; the sanitizers see any access to freed memory.
    void ProbeRemoved()
    {
        for (const auto& entry : removed)
        {
            size_t budget = DataBudget;
            Drain(entry->GetRawStream(), budget);
            Drain(entry->GetDecompressionStream(), budget);
            entry->CloseStreams();
        }
        removed.clear();
    }

    bool Replace()
    {
        if (entries.empty())
            return true;
        const size_t index = input.Number(static_cast<uint32_t>(entries.size() - 1));
        if (entries[index].lent)
            return true;
        return GiveData(index);
    }

    // New data from a stream of our own, with a method, a mode and, for a file, maybe a password.
    bool GiveData(size_t index)
    {
        Expected& e = entries[index];
        std::string how;
        auto method = Method(how);
        const EntryCompressionMode mode = Mode(how);
        const std::string password = input.Flag() && !e.folder ? input.Bytes(16) : std::string();
        if (!password.empty())
            how += ", encrypted";
        const std::string data = MakeData(input, DataBudget - dataUsed);
        dataUsed += data.size();
        how += ", " + std::to_string(data.size()) + " bytes";

        e.entry->SetPassword(password);
        auto source = std::make_unique<std::istringstream>(data, std::ios::in | std::ios::binary);
        if (!e.entry->SetCompressionStream(*source, method, mode))
            return Fail(Target, "set data", Which(index) + ": refused " + how);
        e.data = e.folder ? std::string() : data;
        e.password = password;
        e.how = how;
        e.stored = false;
        if (mode == CompressOnWrite)
        {
            // The stream must live until the archive is written.
            sources.push_back(std::move(source));
        }
        else if (!e.folder && (e.entry->GetUncompressedSize() != data.size() || e.entry->GetCrc32() != Crc32Of(data)))
        {
            return Fail(Target, "headers after compressing at once",
                        Which(index) + ": size " + std::to_string(e.entry->GetUncompressedSize()));
        }
        return true;
    }

    // Fills a new or existing entry (the source itself included) from the decompression stream
    // of an entry read from the archive.
    bool FillFromStream()
    {
        if (entries.empty())
            return true;
        const size_t from = input.Number(static_cast<uint32_t>(entries.size() - 1));
        size_t to = from;
        if (input.Flag())
        {
            bool created = false;
            if (!Create(Name(), created))
                return false;
            if (!created)
                return true;
            to = entries.size() - 1;
        }
        else
        {
            to = input.Number(static_cast<uint32_t>(entries.size() - 1));
        }
        if (!entries[from].stored || entries[from].lent || (to != from && entries[to].lent))
            return true;

        std::string how;
        auto method = Method(how);
        const EntryCompressionMode mode = Mode(how);
        how += ", from the stream of " + Printable(entries[from].name);
        std::istream* stream = entries[from].entry->GetDecompressionStream();
        if (!stream)
            return Fail(Target, "decompression stream", Which(from) + ": no stream");
        entries[from].lent = true;
        Expected& e = entries[to];
        e.entry->SetPassword(std::string());
        if (!e.entry->SetCompressionStream(*stream, method, mode))
            return Fail(Target, "set data", Which(to) + ": refused " + how);
        e.data = e.folder ? std::string() : entries[from].data;
        e.password.clear();
        e.how = how;
        e.stored = false;
        return true;
    }

    // Writes the archive and checks what was written; `written` receives the bytes.
    bool WriteAndCheck(std::string& written)
    {
        std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
        archive->WriteToStream(out);
        if (!out.good())
            return Fail(Target, "write", "the archive of " + std::to_string(entries.size()) + " entries was refused, " +
                                             FailureOf(*archive));
        written = out.str();

        auto copy = ZipArchive::Create(new basic_imemstream<char>(written.data(), written.size()));
        if (copy->GetEntriesCount() != entries.size())
            return Fail(Target, "entry count", "wrote " + std::to_string(entries.size()) + " entries, read back " +
                                                   std::to_string(copy->GetEntriesCount()));
        for (size_t i = 0; i < entries.size(); ++i)
        {
            const Expected& e = entries[i];
            auto entry = copy->GetEntry(i);
            if (entry->GetFullName() != e.name)
                return Fail(Target, "name", Which(i) + " read back as " + Printable(entry->GetFullName()));
            if (entry->IsDirectory() != e.folder)
                return Fail(Target, "folder flag", Which(i) + " read back as " +
                                                       (entry->IsDirectory() ? "a folder" : "a file"));
            if (entry->IsEncrypted() != !e.password.empty())
                return Fail(Target, "encryption flag", Which(i) + " read back " +
                                                           (entry->IsEncrypted() ? "encrypted" : "not encrypted"));
            entry->SetPassword(e.password);
            std::vector<char> data;
            const bool verified = entry->ReadVerifiedData(data);
            const std::string got(data.begin(), data.end());
            if (!verified)
            {
                // Data that come back whole failed on what the headers declare, or went on past it.
                std::string why = Difference(e.data, got);
                if (got == e.data)
                    why = entry->GetUncompressedSize() == got.size() && entry->GetCrc32() == Crc32Of(got)
                              ? "the data ran past the declared size of " + std::to_string(got.size()) + " bytes"
                              : "the data came back whole, but the header declares another size or CRC-32";
                return Fail(Target, "checked read", Which(i) + ", " + MethodName(entry->GetCompressionMethod()) +
                                                        " in the archive: " + why);
            }
            if (got != e.data)
                return Fail(Target, "data", Which(i) + ": " + Difference(e.data, got));
        }

        std::stringstream again(std::ios::in | std::ios::out | std::ios::binary);
        copy->WriteToStream(again);
        if (!again.good())
            return Fail(Target, "rewrite", "the archive read back was refused, " + FailureOf(*copy));
        const std::string rewritten = again.str();
        if (rewritten != written)
            return Fail(Target, "rewrite", "written again unchanged: " + Difference(written, rewritten));
        return true;
    }

    bool WriteAndStartOver()
    {
        std::string written;
        if (!WriteAndCheck(written))
            return false;
        for (auto& e : entries)
            e.entry.reset();
        archive = ZipArchive::Create(new std::istringstream(written, std::ios::in | std::ios::binary));
        // The old archive is gone: the streams its entries were to be compressed from may go too.
        sources.clear();
        ProbeRemoved();
        if (archive->GetEntriesCount() != entries.size())
            return Fail(Target, "entry count on reopening", std::to_string(archive->GetEntriesCount()) + " entries");
        for (size_t i = 0; i < entries.size(); ++i)
        {
            Expected& e = entries[i];
            e.entry = archive->GetEntry(i);
            e.entry->SetPassword(e.password);
            e.stored = true;
            e.lent = false;
        }
        return true;
    }

    FuzzInput& input;
    // Declared before the archive, so that they outlive it.
    std::vector<std::unique_ptr<std::istream>> sources;
    std::shared_ptr<ZipArchive> archive;
    std::vector<Expected> entries;
    std::vector<std::shared_ptr<ZipArchiveEntry>> removed;
    size_t dataUsed = 0;
    int rewrites = 0;
};

} // namespace archive_roundtrip

// False, with the failed check and entry on stderr, when an archive does not read back as
// it was built or does not write again to the same bytes.
inline bool ArchiveRoundTripOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    archive_roundtrip::Session session(input);
    return session.Run();
}

} // namespace fuzzing
