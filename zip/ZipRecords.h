#pragma once
// The on-disk ZIP records (no ZIP64, no multi-disk) and their field-by-field readers and
// writers. All integers are little-endian on disk whatever the host's byte order.
#include <cstdint>
#include <ios>
#include <istream>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

constexpr uint32_t LocalFileHeaderSignature = 0x04034b50;
constexpr uint32_t DataDescriptorSignature = 0x08074b50;
constexpr uint32_t CentralDirectoryFileHeaderSignature = 0x02014b50;
constexpr uint32_t EndOfCentralDirectoryRecordSignature = 0x06054b50;

constexpr uint16_t FlagEncrypted = 0x0001;
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t FlagUtf8 = 0x0800; // name and comment are UTF-8
constexpr uint32_t AttributeDirectory = 0x10;

// Readers return the count the last read delivered; nobody needs to check it.
// An integer field is assembled from its little-endian bytes; bytes the stream did not
// deliver count as 0.
template <class T>
std::streamsize ReadField(std::istream& stream, T& field)
{
    static_assert(std::is_integral<T>::value && std::is_unsigned<T>::value, "unsigned fields only");
    unsigned char bytes[sizeof(T)] = {};
    stream.read(reinterpret_cast<char*>(bytes), sizeof(T));
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value = static_cast<T>(value | (static_cast<T>(bytes[i]) << (8 * i)));
    field = value;
    return stream.gcount();
}

// For a length of 0 reads nothing and leaves the string alone; otherwise the string gets
// exactly `length` bytes, those the stream did not deliver being 0.
std::streamsize ReadFixedString(std::istream& stream, std::string& value, size_t length);

template <class T>
void WriteField(std::ostream& stream, T field)
{
    static_assert(std::is_integral<T>::value && std::is_unsigned<T>::value, "unsigned fields only");
    char bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<char>((field >> (8 * i)) & 0xFF);
    stream.write(bytes, sizeof(T));
}

// Names, comments and extra areas are counted in 16-bit fields; anything longer cannot be
// written without corrupting the record.
constexpr size_t MaxVariableFieldLength = 0xFFFF;

// Writers recompute every length field from the data they describe. A name, comment or extra
// area longer than a 16-bit length can count makes Serialize set badbit on the stream and
// write nothing, rather than a record whose lengths wrap.
//
// Header readers refuse (false) on a wrong signature or a stream that failed inside the fixed
// fields; the stream is then cleared and moved back by the bytes its last fixed field took.
// A stream that ends inside the name, extra area or comment still gives an accepted header,
// with the missing bytes 0 and the stream left failed.

// One field of an extra area. Deserialize reads it unless it would pass the area's end (the
// stream position just after the area) or the stream has failed.
struct ExtraField
{
    uint16_t Tag = 0;
    uint16_t Size = 0;
    std::vector<char> Data; // the truth: Size is recomputed from it on every write

    bool Deserialize(std::istream& stream, std::streampos areaEnd);
    void Serialize(std::ostream& stream);
};

struct LocalFileHeader
{
    uint32_t Signature = LocalFileHeaderSignature;
    uint16_t VersionNeededToExtract = 0;
    uint16_t GeneralPurposeBitFlag = 0;
    uint16_t CompressionMethod = 0;
    uint16_t LastModificationTime = 0;
    uint16_t LastModificationDate = 0;
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    std::string FileName;
    std::vector<ExtraField> ExtraFields;

    bool Deserialize(std::istream& stream);
    void Serialize(std::ostream& stream);
};

struct CentralDirectoryFileHeader
{
    uint32_t Signature = CentralDirectoryFileHeaderSignature;
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeededToExtract = 0;
    uint16_t GeneralPurposeBitFlag = 0;
    uint16_t CompressionMethod = 0;
    uint16_t LastModificationTime = 0;
    uint16_t LastModificationDate = 0;
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    uint16_t FileCommentLength = 0;
    uint16_t DiskNumberStart = 0;
    uint16_t InternalFileAttributes = 0;
    uint32_t ExternalFileAttributes = 0;
    uint32_t RelativeOffsetOfLocalHeader = 0;
    std::string FileName;
    std::vector<ExtraField> ExtraFields;
    std::string FileComment;

    bool Deserialize(std::istream& stream);
    void Serialize(std::ostream& stream);
};

struct EndOfCentralDirectoryRecord
{
    uint32_t Signature = EndOfCentralDirectoryRecordSignature;
    uint16_t NumberOfThisDisk = 0;
    uint16_t DiskWithCentralDirectory = 0;
    uint16_t EntriesOnThisDisk = 0;
    uint16_t TotalEntries = 0;
    uint32_t CentralDirectorySize = 0;
    uint32_t CentralDirectoryOffset = 0;
    uint16_t CommentLength = 0;
    std::string Comment;

    // Reads at the stream's position (the signature); nothing is validated.
    void Deserialize(std::istream& stream);
    void Serialize(std::ostream& stream);
};

struct DataDescriptor
{
    uint32_t Signature = DataDescriptorSignature;
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;

    void Serialize(std::ostream& stream);
};
