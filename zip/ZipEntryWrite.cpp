// Writing an entry's data: attaching new data, loading the local header, and the pipeline
// that checksums, compresses and optionally encrypts the data into an output stream.
#include "zip/CopyStream.h"
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/compression_encoder_stream.h"
#include "zip/crc32_stream.h"
#include "zip/null_stream.h"
#include "zip/zip_cryptostream.h"

namespace {

constexpr uint64_t MaxField32 = 0xFFFFFFFFu;
constexpr uint16_t FolderVersionNeeded = 20;
constexpr uint32_t EncryptionHeaderSize = 12;

} // namespace

bool ZipArchiveEntry::SetCompressionStream(std::istream& stream, std::shared_ptr<ICompressionMethod> newMethod,
                                           EntryCompressionMode newMode)
{
    if (!newMethod)
        return false;
    if (dataSource)
    {
        // Data attached earlier for compression on write are dropped.
        if (compressedData)
            compressedData->clear();
        centralHeader.Crc32 = 0;
        centralHeader.CompressedSize = 0;
        centralHeader.UncompressedSize = 0;
    }
    dataSource = &stream;
    hasNewData = true;
    method = std::move(newMethod);
    mode = newMode == CompressAtOnce ? CompressAtOnce : CompressOnWrite;
    centralHeader.CompressionMethod = method->GetMethodDescriptor().CompressionMethod;

    if (mode == CompressAtOnce)
    {
        // A raw stream handed out before shows the old bytes; it stays readable, but the next
        // request gets the new ones.
        if (rawStream)
            retiredStreams.push_back(std::move(rawStream));
        compressedData = std::make_shared<std::stringstream>(std::ios::in | std::ios::out | std::ios::binary);
        try
        {
            CompressStream(*dataSource, *compressedData);
        }
        catch (...)
        {
            // The caller's stream may be gone soon: never keep it, and never write what was cut off.
            CompressFailed(WriteFailure::SourceFailed);
            hasNewData = false;
            dataSource = nullptr;
            compressedData->setstate(std::ios::badbit);
            throw;
        }
        hasNewData = false;
        dataSource = nullptr;
    }
    return true;
}

void ZipArchiveEntry::ReadLocalFileHeader()
{
    std::istream* input = GetInputStream();
    if (!isLocalHeaderRead && isInArchive && input)
    {
        // Always from where the directory says: other readers of the shared input (streams
        // handed out, sources read while the archive is written) move it without the entry
        // knowing.
        const auto offset = static_cast<std::streamoff>(centralHeader.RelativeOffsetOfLocalHeader);
        LocalFileHeader stored;
        if (PositionInputAt(*input, offset))
        {
            if (stored.Deserialize(*input) && input->good())
            {
                // The data follow the header's name and extra area.
                dataStart = offset + 30 + stored.FileNameLength + stored.ExtraFieldLength;
                localHeader = std::move(stored);
            }
            else
            {
                // No complete local header where the directory says: the entry's stored bytes
                // are unknown, and none are ever taken for its data.
                dataStart = -1;
                input->clear();
            }
        }
    }
    SyncLocalHeader();
    isLocalHeaderRead = true;
}

void ZipArchiveEntry::SyncLocalHeader()
{
    localHeader.VersionNeededToExtract = centralHeader.VersionNeededToExtract;
    localHeader.GeneralPurposeBitFlag = centralHeader.GeneralPurposeBitFlag;
    localHeader.CompressionMethod = centralHeader.CompressionMethod;
    localHeader.LastModificationTime = centralHeader.LastModificationTime;
    localHeader.LastModificationDate = centralHeader.LastModificationDate;
    localHeader.Crc32 = centralHeader.Crc32;
    localHeader.CompressedSize = centralHeader.CompressedSize;
    localHeader.UncompressedSize = centralHeader.UncompressedSize;
    localHeader.FileName = centralHeader.FileName;
    localHeader.FileNameLength = static_cast<uint16_t>(localHeader.FileName.size());
}

std::streampos ZipArchiveEntry::SeekToData()
{
    if (!isLocalHeaderRead)
        ReadLocalFileHeader();
    std::istream* input = GetInputStream();
    // Never seek to the -1 of an unknown start: that would fail the stream every entry shares.
    if (dataStart >= 0 && input)
        SeekInputTo(*input, static_cast<std::streamoff>(dataStart));
    return dataStart;
}

void ZipArchiveEntry::ComputeCrc32()
{
    if (IsDirectory() || !dataSource || !hasNewData)
        return;
    ComputeCrc32Of(*dataSource);
}

bool ZipArchiveEntry::ComputeCrc32Of(std::istream& input)
{
    const std::streampos position = input.tellg();
    basic_crc32stream<char> crcStream;
    crcStream.init(input);
    basic_nullstream<char> sink;
    CopyStream(crcStream, sink);
    input.clear();
    input.seekg(position);
    centralHeader.Crc32 = crcStream.get_crc32();
    // The data are read twice; a source that cannot go back would deliver nothing the second time.
    return position >= 0 && !input.fail();
}

void ZipArchiveEntry::CompressStream(std::istream& input, std::ostream& output)
{
    if (!CompressInto(input, output))
        output.setstate(std::ios::badbit);
}

void ZipArchiveEntry::PrepareHeadersForNewData()
{
    // The flags and version that compressing will set, known before the data are written, so
    // that a local header written ahead of the data carries the same values as the central one.
    if (password.empty())
        centralHeader.GeneralPurposeBitFlag &= static_cast<uint16_t>(~FlagEncrypted);
    else
        centralHeader.GeneralPurposeBitFlag |= FlagEncrypted;
    uint16_t version = IsDirectory() ? FolderVersionNeeded
                                     : (method ? method->GetMethodDescriptor().VersionNeededToExtract : 0);
    if (centralHeader.VersionNeededToExtract < version)
        centralHeader.VersionNeededToExtract = version;
}

bool ZipArchiveEntry::CompressFailed(WriteFailure cause, int code)
{
    // The first cause counts: later ones follow from it.
    if (compressFailure == WriteFailure::None)
    {
        compressFailure = cause;
        compressFailureCode = code;
    }
    return false;
}

bool ZipArchiveEntry::CompressInto(std::istream& input, std::ostream& output)
{
    compressFailure = WriteFailure::None;
    compressFailureCode = 0;
    if (!method)
        return CompressFailed(WriteFailure::CodecFailed);
    bool ok = true;
    PrepareHeadersForNewData();

    std::unique_ptr<basic_zip_cryptostream<char>> encryption;
    std::ostream* target = &output;
    if (!password.empty())
    {
        encryption = std::make_unique<basic_zip_cryptostream<char>>();
        auto& crypto = encryption->crypto();
        crypto.bind_output(output);
        crypto.init_keys(password.c_str());
        int checkByte;
        if (centralHeader.GeneralPurposeBitFlag & FlagDataDescriptor)
        {
            checkByte = (centralHeader.LastModificationTime >> 8) & 0xFF;
        }
        else
        {
            if (!IsDirectory() && !ComputeCrc32Of(input))
                ok = CompressFailed(WriteFailure::SourceFailed);
            checkByte = static_cast<int>((centralHeader.Crc32 >> 24) & 0xFF);
        }
        crypto.set_check_byte(checkByte);
        target = encryption.get();
    }

    basic_crc32stream<char> crcStream;
    crcStream.init(input);
    const std::shared_ptr<ICompressionMethod::encoder_type> encoder = method->GetEncoder();
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;
    {
        basic_compression_encoder_stream<char> encoderStream(method->GetEncoderProperties(), *target, encoder);
        CopyStream(crcStream, encoderStream);
        // A source that broke (rather than ended) leaves the data cut short.
        if (input.bad() || crcStream.bad())
            ok = CompressFailed(WriteFailure::SourceFailed);
        encoderStream.flush();
        // A codec that failed leaves incomplete output behind; so does an output that refused
        // what the codec gave it, which the codec may report as its own failure.
        if (!encoderStream.good())
        {
            if (output.bad() || target->bad())
                ok = CompressFailed(WriteFailure::OutputFailed);
            else
                ok = CompressFailed(WriteFailure::CodecFailed, encoder->library_result());
        }
        if (encryption && encoder->get_bytes_written() == 0)
            encryption->crypto().write_encryption_header();
        bytesRead = encoder->get_bytes_read();
        bytesWritten = encoder->get_bytes_written();
    }
    if (encryption)
        bytesWritten += EncryptionHeaderSize;
    // No sizes of 4 GiB or more: without 64-bit records they would wrap.
    if (bytesRead > MaxField32 || bytesWritten > MaxField32)
        ok = CompressFailed(WriteFailure::OffsetTooLarge);

    localHeader.UncompressedSize = static_cast<uint32_t>(bytesRead);
    localHeader.CompressedSize = static_cast<uint32_t>(bytesWritten);
    localHeader.Crc32 = crcStream.get_crc32();
    centralHeader.Crc32 = localHeader.Crc32;
    centralHeader.CompressedSize = localHeader.CompressedSize;
    centralHeader.UncompressedSize = localHeader.UncompressedSize;
    if (output.bad())
        ok = CompressFailed(WriteFailure::OutputFailed);
    return ok;
}
