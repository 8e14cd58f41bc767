// Reading an entry's data: its stored bytes as they are, or uncompressed (and decrypted).
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/compression_decoder_stream.h"
#include "zip/lzma_decoder.h"
#include "zip/sub_stream.h"
#include "zip/zip_cryptostream.h"

#include <zlib.h>

#include <algorithm>
#include <sstream>

namespace {

// Highest version needed to extract among the methods this library decodes (LZMA, 6.3).
constexpr uint16_t HighestVersionNeeded = 63;

// A window over data held in memory by the entry. It keeps the data alive itself, so a
// stream handed out earlier stays readable when the entry's data are replaced or released.
struct KeptWindow
{
    std::shared_ptr<std::stringstream> data;
    basic_isubstream<char> window;

    KeptWindow(std::shared_ptr<std::stringstream> source, uint32_t length)
        : data(std::move(source)), window(*data, 0, length)
    {
    }
};

std::shared_ptr<std::istream> MakeKeptWindow(const std::shared_ptr<std::stringstream>& data, uint32_t length)
{
    auto kept = std::make_shared<KeptWindow>(data, length);
    return std::shared_ptr<std::istream>(kept, &kept->window);
}

// The stored bytes that a stored entry's declared size accounts for: the data and, when
// encrypted, the encryption header before them.
uint64_t StoredBytesDeclared(const CentralDirectoryFileHeader& header)
{
    const bool encrypted = (header.GeneralPurposeBitFlag & FlagEncrypted) != 0;
    return uint64_t{header.UncompressedSize} + (encrypted ? zip_crypto_streambuf::HeaderSize : 0);
}

} // namespace

std::istream* ZipArchiveEntry::GetInputStream() const
{
    return archive ? archive->inputStream : nullptr;
}

std::istream* ZipArchiveEntry::GetRawStream()
{
    if (rawStream)
        return rawStream.get();
    if (compressedData)
    {
        // Data given to the entry take precedence over what the archive stored for it.
        rawStream = MakeKeptWindow(compressedData, 0xFFFFFFFFu);
    }
    else if (isInArchive && GetInputStream() && SeekToData() >= 0)
    {
        rawStream = std::make_shared<basic_isubstream<char>>(*GetInputStream(), dataStart,
                                                             centralHeader.CompressedSize);
    }
    else
    {
        // Nothing is stored for the entry (a new entry without data, an archive that is gone,
        // or a local header that could not be read): an empty stream, never stray bytes.
        rawStream = std::make_shared<std::istringstream>();
    }
    return rawStream.get();
}

std::istream* ZipArchiveEntry::GetDecompressionStream()
{
    if (centralHeader.VersionNeededToExtract > HighestVersionNeeded)
        return nullptr;
    if (dataWindow || decryptionStream)
        return nullptr;
    // Only data that lie in the archive can be decompressed: a new entry has none there, and
    // data still to be compressed on writing do not exist yet.
    if (!isInArchive || dataSource)
        return nullptr;

    std::streampos start = 0;
    std::istream* source = nullptr;
    if (compressedData)
    {
        source = compressedData.get();
    }
    else
    {
        source = GetInputStream();
        if (!source)
            return nullptr;
        start = SeekToData();
        if (start < 0)
            return nullptr;
    }

    const bool encrypted = (centralHeader.GeneralPurposeBitFlag & FlagEncrypted) != 0;
    const uint16_t methodId = centralHeader.CompressionMethod;
    if (encrypted && password.empty())
        return nullptr;

    // The entry's data are delivered up to their declared size, never beyond. For stored data
    // the window itself ends there; decoded data are cut by the decoder stream below.
    uint32_t windowLength = centralHeader.CompressedSize;
    if (methodId == 0)
        windowLength = static_cast<uint32_t>(std::min<uint64_t>(windowLength, StoredBytesDeclared(centralHeader)));
    if (compressedData)
        dataWindow = MakeKeptWindow(compressedData, windowLength);
    else
        dataWindow = std::make_shared<basic_isubstream<char>>(*source, start, windowLength);
    std::istream* current = dataWindow.get();

    if (encrypted)
    {
        auto decryption = std::make_shared<basic_zip_cryptostream<char>>();
        auto& crypto = decryption->crypto();
        crypto.bind_input(*current);
        crypto.init_keys(password.c_str());
        int checkByte;
        if ((centralHeader.GeneralPurposeBitFlag & FlagDataDescriptor) == 0)
        {
            ComputeCrc32();
            checkByte = static_cast<int>((centralHeader.Crc32 >> 24) & 0xFF);
        }
        else
        {
            checkByte = (centralHeader.LastModificationTime >> 8) & 0xFF;
        }
        crypto.set_check_byte(checkByte);
        const bool passwordFits = crypto.read_encryption_header();
        decryptionStream = decryption;
        current = decryption.get();
        if (!passwordFits)
        {
            // Only the read chain goes: data given to the entry must survive a wrong password.
            ReleaseReadChain();
            return nullptr;
        }
    }

    if (methodId != 0)
    {
        if (auto method = CreateCompressionMethod(methodId))
        {
            const auto decoder = method->GetDecoder();
            auto decoded = std::make_shared<basic_compression_decoder_stream<char>>(
                decoder, method->GetDecoderProperties(), *current);
            decoded->set_limit(centralHeader.UncompressedSize);
            // An LZMA stream without end marker may decode to trailing bytes past its real end
            // (its end is ambiguous); knowing the size, the decoder ends where the data do.
            if (auto* lzma = dynamic_cast<basic_lzma_decoder<char>*>(decoder.get()))
                lzma->set_expected_size(centralHeader.UncompressedSize);
            decompressionStream = decoded;
            current = decompressionStream.get();
        }
    }
    return current;
}

bool ZipArchiveEntry::ReadVerifiedData(std::vector<char>& data)
{
    data.clear();
    if (!IsMethodSupported())
        return false;
    std::istream* stream = GetDecompressionStream();
    if (!stream)
        return false;

    // The chain is released however the read ends, also by an exception.
    struct ChainRelease
    {
        ZipArchiveEntry& entry;
        ~ChainRelease() { entry.ReleaseReadChain(); }
    } release{*this};

    const uint64_t expectedSize = centralHeader.UncompressedSize;
    constexpr size_t BlockSize = 65536;
    uLong crc = crc32(0, nullptr, 0);
    for (;;)
    {
        const size_t oldSize = data.size();
        data.resize(oldSize + BlockSize);
        stream->read(data.data() + oldSize, BlockSize);
        const auto got = static_cast<size_t>(stream->gcount());
        data.resize(oldSize + got);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data() + oldSize), static_cast<uInt>(got));
        // The stream ends at the declared size at the latest.
        if (got < BlockSize)
            break;
    }
    // Data that go on past the declared size are damaged, even when their first part checks.
    bool longer = false;
    if (auto* decoded = dynamic_cast<basic_compression_decoder_stream<char>*>(stream))
        longer = decoded->exceeded_limit();
    else
        longer = centralHeader.CompressedSize > StoredBytesDeclared(centralHeader);
    return !longer && data.size() == expectedSize && crc == centralHeader.Crc32;
}
