#include "zip/ZipRecords.h"

#include <algorithm>

namespace {

// A refused header gives the stream back in the good state, moved back by what its last
// fixed field consumed, so the caller can seek on from there.
bool RefuseHeader(std::istream& stream, std::streamsize lastFieldCount)
{
    stream.clear();
    if (lastFieldCount > 0)
        stream.seekg(-static_cast<std::streamoff>(lastFieldCount), std::ios::cur);
    if (!stream.good())
        stream.clear();
    return false;
}

// Reads the fields of an extra area of `length` bytes at the stream's position and leaves
// the stream at the end of the area, however much of it parsed.
void ReadExtraArea(std::istream& stream, uint16_t length, std::vector<ExtraField>& fields)
{
    std::streampos start = stream.tellg();
    if (start == std::streampos(-1))
        return; // the stream has already failed: nothing more can be read
    std::streampos areaEnd = start + static_cast<std::streamoff>(length);
    ExtraField field;
    while (field.Deserialize(stream, areaEnd))
    {
        fields.push_back(std::move(field));
        field = ExtraField();
    }
    stream.seekg(areaEnd);
}

size_t ExtraAreaLength(const std::vector<ExtraField>& fields)
{
    size_t length = 0;
    for (const auto& field : fields)
        length += 4 + field.Data.size();
    return length;
}

void WriteBytes(std::ostream& stream, const std::string& bytes)
{
    if (!bytes.empty())
        stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteExtraArea(std::ostream& stream, std::vector<ExtraField>& fields)
{
    for (auto& field : fields)
        field.Serialize(stream);
}

// The fixed fields of a record gathered into one block, so that writing a header costs one
// call on the stream instead of one per field.
class FieldBlock
{
public:
    template <class T>
    FieldBlock& Put(T field)
    {
        static_assert(std::is_integral<T>::value && std::is_unsigned<T>::value, "unsigned fields only");
        for (size_t i = 0; i < sizeof(T); ++i)
            bytes[size++] = static_cast<char>((field >> (8 * i)) & 0xFF);
        return *this;
    }
    void WriteTo(std::ostream& stream) const { stream.write(bytes, static_cast<std::streamsize>(size)); }

private:
    char bytes[46];
    size_t size = 0;
};

// The fixed fields of a record read as one block. Each field takes its bytes in turn, those the
// stream did not deliver counting as 0, exactly as reading field by field would; Last gives
// what the most recent field received.
class FieldReader
{
public:
    FieldReader(std::istream& stream, size_t length)
    {
        length = std::min(length, sizeof(bytes));
        stream.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(length));
        delivered = static_cast<size_t>(std::max<std::streamsize>(0, stream.gcount()));
    }
    template <class T>
    FieldReader& Get(T& field)
    {
        static_assert(std::is_integral<T>::value && std::is_unsigned<T>::value, "unsigned fields only");
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            value = static_cast<T>(value | (static_cast<T>(bytes[offset + i]) << (8 * i)));
        field = value;
        last = static_cast<std::streamsize>(std::min(sizeof(T), delivered > offset ? delivered - offset : 0));
        offset += sizeof(T);
        return *this;
    }
    std::streamsize Last() const { return last; }

private:
    unsigned char bytes[46] = {};
    size_t delivered = 0;
    size_t offset = 0;
    std::streamsize last = 0;
};

constexpr size_t LocalHeaderFixedSize = 30;
constexpr size_t CentralHeaderFixedSize = 46;

} // namespace

std::streamsize ReadFixedString(std::istream& stream, std::string& value, size_t length)
{
    if (length == 0)
        return 0;
    value.assign(length, '\0');
    stream.read(&value[0], static_cast<std::streamsize>(length));
    return stream.gcount();
}

bool ExtraField::Deserialize(std::istream& stream, std::streampos areaEnd)
{
    // A failed stream reports its position as -1, which would make the remaining count
    // meaningless: a failed stream ends the list.
    if (!stream.good() || areaEnd == std::streampos(-1))
        return false;
    std::streampos position = stream.tellg();
    if (position == std::streampos(-1))
        return false;
    std::streamoff remaining = areaEnd - position;
    if (remaining < 4)
        return false;

    std::streamsize tagCount = ReadField(stream, Tag);
    std::streamsize sizeCount = ReadField(stream, Size);
    if (!stream.good() || tagCount != 2 || sizeCount != 2)
        return false;
    remaining -= 4;
    if (static_cast<std::streamoff>(Size) > remaining)
        return false; // passes the end of the area: dropped with everything after it

    Data.clear();
    if (Size == 0)
        return true;
    Data.assign(Size, 0);
    stream.read(Data.data(), Size);
    return true;
}

void ExtraField::Serialize(std::ostream& stream)
{
    if (Data.size() > MaxVariableFieldLength)
    {
        stream.setstate(std::ios::badbit);
        return;
    }
    Size = static_cast<uint16_t>(Data.size());
    WriteField(stream, Tag);
    WriteField(stream, Size);
    if (!Data.empty())
        stream.write(Data.data(), static_cast<std::streamsize>(Data.size()));
}

bool LocalFileHeader::Deserialize(std::istream& stream)
{
    FileName.clear();
    ExtraFields.clear();

    FieldReader fields(stream, LocalHeaderFixedSize);
    fields.Get(Signature)
        .Get(VersionNeededToExtract)
        .Get(GeneralPurposeBitFlag)
        .Get(CompressionMethod)
        .Get(LastModificationTime)
        .Get(LastModificationDate)
        .Get(Crc32)
        .Get(CompressedSize)
        .Get(UncompressedSize)
        .Get(FileNameLength)
        .Get(ExtraFieldLength);
    if (stream.fail() || Signature != LocalFileHeaderSignature)
        return RefuseHeader(stream, fields.Last());

    ReadFixedString(stream, FileName, FileNameLength);
    if (ExtraFieldLength > 0)
        ReadExtraArea(stream, ExtraFieldLength, ExtraFields);
    return true;
}

void LocalFileHeader::Serialize(std::ostream& stream)
{
    size_t extraLength = ExtraAreaLength(ExtraFields);
    if (FileName.size() > MaxVariableFieldLength || extraLength > MaxVariableFieldLength)
    {
        stream.setstate(std::ios::badbit);
        return;
    }
    FileNameLength = static_cast<uint16_t>(FileName.size());
    ExtraFieldLength = static_cast<uint16_t>(extraLength);

    FieldBlock()
        .Put(Signature)
        .Put(VersionNeededToExtract)
        .Put(GeneralPurposeBitFlag)
        .Put(CompressionMethod)
        .Put(LastModificationTime)
        .Put(LastModificationDate)
        .Put(Crc32)
        .Put(CompressedSize)
        .Put(UncompressedSize)
        .Put(FileNameLength)
        .Put(ExtraFieldLength)
        .WriteTo(stream);
    WriteBytes(stream, FileName);
    if (ExtraFieldLength != 0)
        WriteExtraArea(stream, ExtraFields);
}

bool CentralDirectoryFileHeader::Deserialize(std::istream& stream)
{
    FileName.clear();
    ExtraFields.clear();
    FileComment.clear();

    FieldReader fields(stream, CentralHeaderFixedSize);
    fields.Get(Signature)
        .Get(VersionMadeBy)
        .Get(VersionNeededToExtract)
        .Get(GeneralPurposeBitFlag)
        .Get(CompressionMethod)
        .Get(LastModificationTime)
        .Get(LastModificationDate)
        .Get(Crc32)
        .Get(CompressedSize)
        .Get(UncompressedSize)
        .Get(FileNameLength)
        .Get(ExtraFieldLength)
        .Get(FileCommentLength)
        .Get(DiskNumberStart)
        .Get(InternalFileAttributes)
        .Get(ExternalFileAttributes)
        .Get(RelativeOffsetOfLocalHeader);
    if (stream.fail() || Signature != CentralDirectoryFileHeaderSignature)
        return RefuseHeader(stream, fields.Last());

    ReadFixedString(stream, FileName, FileNameLength);
    if (ExtraFieldLength > 0)
        ReadExtraArea(stream, ExtraFieldLength, ExtraFields);
    ReadFixedString(stream, FileComment, FileCommentLength);
    return true;
}

void CentralDirectoryFileHeader::Serialize(std::ostream& stream)
{
    size_t extraLength = ExtraAreaLength(ExtraFields);
    if (FileName.size() > MaxVariableFieldLength || extraLength > MaxVariableFieldLength ||
        FileComment.size() > MaxVariableFieldLength)
    {
        stream.setstate(std::ios::badbit);
        return;
    }
    FileNameLength = static_cast<uint16_t>(FileName.size());
    ExtraFieldLength = static_cast<uint16_t>(extraLength);
    FileCommentLength = static_cast<uint16_t>(FileComment.size());

    FieldBlock()
        .Put(Signature)
        .Put(VersionMadeBy)
        .Put(VersionNeededToExtract)
        .Put(GeneralPurposeBitFlag)
        .Put(CompressionMethod)
        .Put(LastModificationTime)
        .Put(LastModificationDate)
        .Put(Crc32)
        .Put(CompressedSize)
        .Put(UncompressedSize)
        .Put(FileNameLength)
        .Put(ExtraFieldLength)
        .Put(FileCommentLength)
        .Put(DiskNumberStart)
        .Put(InternalFileAttributes)
        .Put(ExternalFileAttributes)
        .Put(RelativeOffsetOfLocalHeader)
        .WriteTo(stream);
    WriteBytes(stream, FileName);
    if (ExtraFieldLength != 0)
        WriteExtraArea(stream, ExtraFields);
    WriteBytes(stream, FileComment);
}

void EndOfCentralDirectoryRecord::Deserialize(std::istream& stream)
{
    Comment.clear();
    ReadField(stream, Signature);
    ReadField(stream, NumberOfThisDisk);
    ReadField(stream, DiskWithCentralDirectory);
    ReadField(stream, EntriesOnThisDisk);
    ReadField(stream, TotalEntries);
    ReadField(stream, CentralDirectorySize);
    ReadField(stream, CentralDirectoryOffset);
    ReadField(stream, CommentLength);
    ReadFixedString(stream, Comment, CommentLength);
}

void EndOfCentralDirectoryRecord::Serialize(std::ostream& stream)
{
    if (Comment.size() > MaxVariableFieldLength)
    {
        stream.setstate(std::ios::badbit);
        return;
    }
    CommentLength = static_cast<uint16_t>(Comment.size());
    WriteField(stream, Signature);
    WriteField(stream, NumberOfThisDisk);
    WriteField(stream, DiskWithCentralDirectory);
    WriteField(stream, EntriesOnThisDisk);
    WriteField(stream, TotalEntries);
    WriteField(stream, CentralDirectorySize);
    WriteField(stream, CentralDirectoryOffset);
    WriteField(stream, CommentLength);
    WriteBytes(stream, Comment);
}

void DataDescriptor::Serialize(std::ostream& stream)
{
    WriteField(stream, Signature);
    WriteField(stream, Crc32);
    WriteField(stream, CompressedSize);
    WriteField(stream, UncompressedSize);
}
