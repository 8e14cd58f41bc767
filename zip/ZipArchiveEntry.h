#pragma once
// One member of an archive: a file or a folder, its two headers, its pending new data and
// the streams opened on its data. Only ZipArchive makes entries.
#include "zip/ICompressionMethod.h"
#include "zip/ZipRecords.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

class ZipArchive;
enum class WriteFailure : int; // ZipArchive.h

enum EntryCompressionMode : int32_t
{
    CompressAtOnce = 0,  // compressed during SetCompressionStream; the caller's stream is free after it
    CompressOnWrite = 1, // the caller's stream is kept and compressed when the archive is written
};

// Copies what remains of an input stream to an output stream in blocks of 1 MiB, until a read
// comes back short.
void CopyStream(std::istream& input, std::ostream& output);

class ZipArchiveEntry : public std::enable_shared_from_this<ZipArchiveEntry>
{
public:
    ZipArchiveEntry();
    ~ZipArchiveEntry();
    ZipArchiveEntry(const ZipArchiveEntry&) = delete;
    ZipArchiveEntry& operator=(const ZipArchiveEntry&) = delete;

    // Name rules.
    static bool IsValidFileName(const std::string& name);
    static std::string GetFileNameFromPath(const std::string& path);
    void SetFullName(const std::string& path);
    void SetDirectoryFlag(bool isDirectory);

    // Read access to the central header.
    const std::string& GetFullName() const { return centralHeader.FileName; }
    const std::string& GetName() const { return fileName; }
    uint16_t GetGeneralPurposeBitFlag() const { return centralHeader.GeneralPurposeBitFlag; }
    uint16_t GetCompressionMethod() const { return centralHeader.CompressionMethod; }
    uint16_t GetLastModificationTime() const { return centralHeader.LastModificationTime; }
    uint16_t GetLastModificationDate() const { return centralHeader.LastModificationDate; }
    uint16_t GetVersionNeededToExtract() const { return centralHeader.VersionNeededToExtract; }
    uint32_t GetCrc32() const { return centralHeader.Crc32; }
    uint32_t GetCompressedSize() const { return centralHeader.CompressedSize; }
    uint32_t GetUncompressedSize() const { return centralHeader.UncompressedSize; }
    uint32_t GetExternalFileAttributes() const { return centralHeader.ExternalFileAttributes; }
    bool IsDirectory() const { return (centralHeader.ExternalFileAttributes & AttributeDirectory) != 0; }
    bool IsEncrypted() const { return (centralHeader.GeneralPurposeBitFlag & FlagEncrypted) != 0; }
    const CentralDirectoryFileHeader& GetCentralHeader() const { return centralHeader; }
    const LocalFileHeader& GetLocalHeader() const { return localHeader; }

    // The traditional encryption's password; empty means none.
    void SetPassword(const std::string& newPassword) { password = newPassword; }
    const std::string& GetPassword() const { return password; }

    // Data access. The entry owns the streams; callers never delete them.
    std::istream* GetRawStream();
    std::istream* GetDecompressionStream();
    void CloseStreams();

    // Whether this library can decode the entry's method (0, 8, 12, 14).
    bool IsMethodSupported() const;

    // Reads the whole uncompressed data into `data`, growing with what actually decodes (the
    // declared size is not trusted for allocation), and checks its length and CRC-32 against
    // the central header. False when the data cannot be opened, the method cannot be decoded,
    // or the check fails; `data` then holds what was read. Closes the decompression streams.
    bool ReadVerifiedData(std::vector<char>& data);

    // Writing.
    bool SetCompressionStream(std::istream& stream, std::shared_ptr<ICompressionMethod> newMethod,
                              EntryCompressionMode newMode = CompressAtOnce);
    void ReadLocalFileHeader();
    std::streampos SeekToData();
    void CompressStream(std::istream& input, std::ostream& output);
    void ComputeCrc32();

private:
    friend class ZipArchive;

    // The full name a path becomes: backslashes turned into slashes, leading slashes dropped,
    // runs of slashes collapsed.
    static std::string NormalizeName(const std::string& path);
    // Tells the archive that this entry's name is about to change.
    void NameChanging();
    // The archive's input stream, or null once the archive is gone.
    std::istream* GetInputStream() const;
    // Releases the decompression chain only; data given to the entry stay.
    void ReleaseReadChain();
    // Forgets the archive; streams over `input` handed out earlier end from now on.
    void DetachFrom(std::istream* input);
    // Copies the central header's fields into the local header.
    void SyncLocalHeader();
    // Stores the CRC-32 of what remains of `input` and puts it back where it stood; false when
    // it cannot be put back.
    bool ComputeCrc32Of(std::istream& input);
    // Sets the flags and version needed that compressing new data gives the central header.
    void PrepareHeadersForNewData();
    // The write pipeline; false when its output is incomplete or cannot be described, with the
    // cause in compressFailure and compressFailureCode.
    bool CompressInto(std::istream& input, std::ostream& output);
    bool CompressFailed(WriteFailure cause, int code = 0);

    ZipArchive* archive = nullptr;
    std::shared_ptr<std::istream> rawStream;
    std::shared_ptr<std::istream> decompressionStream;
    std::shared_ptr<std::istream> decryptionStream;
    std::shared_ptr<std::istream> dataWindow;
    std::shared_ptr<std::stringstream> compressedData;
    std::istream* dataSource = nullptr;
    std::shared_ptr<ICompressionMethod> method;
    EntryCompressionMode mode = CompressAtOnce;
    std::string fileName;
    bool isInArchive = false;
    bool hasNewData = false;
    bool isLocalHeaderRead = false;
    LocalFileHeader localHeader;
    CentralDirectoryFileHeader centralHeader;
    std::streampos dataStart = -1;
    std::streampos localHeaderPosition = -1;
    std::string password;
    // Raw streams handed out before the data were replaced; kept readable until the entry goes.
    std::vector<std::shared_ptr<std::istream>> retiredStreams;
    // Why the last compression failed (WriteFailure::None when it did not), and the codec's code.
    WriteFailure compressFailure{}; // value 0: None
    int compressFailureCode = 0;
};
