#include "zip/ZipArchiveEntry.h"

#include "zip/ZipArchive.h"
#include "zip/sub_stream.h"

#include <algorithm>

ZipArchiveEntry::ZipArchiveEntry() = default;

ZipArchiveEntry::~ZipArchiveEntry()
{
    rawStream.reset();
    CloseStreams();
}

bool ZipArchiveEntry::IsValidFileName(const std::string& name)
{
    // A name made only of separators (either kind) names nothing.
    return name.find_first_not_of("/\\") != std::string::npos;
}

std::string ZipArchiveEntry::GetFileNameFromPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ZipArchiveEntry::NormalizeName(const std::string& path)
{
    std::string result;
    result.reserve(path.size());
    for (char c : path)
    {
        if (c == '\\')
            c = '/';
        // Leading separators are dropped and runs of them collapse into one.
        if (c == '/' && (result.empty() || result.back() == '/'))
            continue;
        result += c;
    }
    return result;
}

void ZipArchiveEntry::SetFullName(const std::string& path)
{
    const bool isFolder = !path.empty() && (path.back() == '/' || path.back() == '\\');
    NameChanging();
    centralHeader.FileName = NormalizeName(path);
    fileName = GetFileNameFromPath(centralHeader.FileName);
    SetDirectoryFlag(isFolder);
}

void ZipArchiveEntry::SetDirectoryFlag(bool isDirectory)
{
    const uint32_t oldAttributes = centralHeader.ExternalFileAttributes;
    const uint32_t newAttributes = isDirectory ? (oldAttributes | AttributeDirectory)
                                               : (oldAttributes & ~AttributeDirectory);
    std::string& name = centralHeader.FileName;
    if (newAttributes != oldAttributes)
    {
        NameChanging();
        if (isDirectory && (name.empty() || name.back() != '/'))
            name += '/';
        else if (!isDirectory && !name.empty() && name.back() == '/')
            name.pop_back();
    }
    if (newAttributes & AttributeDirectory)
    {
        centralHeader.Crc32 = 0;
        centralHeader.CompressedSize = 0;
        centralHeader.UncompressedSize = 0;
    }
    centralHeader.ExternalFileAttributes = newAttributes;
}

void ZipArchiveEntry::NameChanging()
{
    if (archive)
        archive->nameIndexValid = false;
}

void ZipArchiveEntry::CloseStreams()
{
    ReleaseReadChain();
    compressedData.reset();
}

void ZipArchiveEntry::DetachFrom(std::istream* input)
{
    archive = nullptr;
    if (!input)
        return;
    // Windows over the input end; those over data the entry holds itself stay readable. The
    // decryption and decoder stages read through the window, so they end with it.
    auto detach = [input](const std::shared_ptr<std::istream>& stream) {
        if (auto* window = dynamic_cast<basic_isubstream<char>*>(stream.get()))
        {
            if (window->rdbuf()->get_source() == input)
                window->rdbuf()->detach();
        }
    };
    detach(rawStream);
    detach(dataWindow);
    for (const auto& retired : retiredStreams)
        detach(retired);
}

void ZipArchiveEntry::ReleaseReadChain()
{
    // Top of the chain first: each stage reads from the one below it.
    decompressionStream.reset();
    decryptionStream.reset();
    dataWindow.reset();
}

bool ZipArchiveEntry::IsMethodSupported() const
{
    switch (centralHeader.CompressionMethod)
    {
    case 0:
    case 8:
    case 12:
    case 14:
        return true;
    default:
        return false;
    }
}
