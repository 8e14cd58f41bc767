#include "zip/ZipRecords.h"

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

    ReadField(stream, Signature);
    ReadField(stream, VersionNeededToExtract);
    ReadField(stream, GeneralPurposeBitFlag);
    ReadField(stream, CompressionMethod);
    ReadField(stream, LastModificationTime);
    ReadField(stream, LastModificationDate);
    ReadField(stream, Crc32);
    ReadField(stream, CompressedSize);
    ReadField(stream, UncompressedSize);
    ReadField(stream, FileNameLength);
    std::streamsize last = ReadField(stream, ExtraFieldLength);
    if (stream.fail() || Signature != LocalFileHeaderSignature)
        return RefuseHeader(stream, last);

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

    WriteField(stream, Signature);
    WriteField(stream, VersionNeededToExtract);
    WriteField(stream, GeneralPurposeBitFlag);
    WriteField(stream, CompressionMethod);
    WriteField(stream, LastModificationTime);
    WriteField(stream, LastModificationDate);
    WriteField(stream, Crc32);
    WriteField(stream, CompressedSize);
    WriteField(stream, UncompressedSize);
    WriteField(stream, FileNameLength);
    WriteField(stream, ExtraFieldLength);
    WriteBytes(stream, FileName);
    if (ExtraFieldLength != 0)
        WriteExtraArea(stream, ExtraFields);
}

bool CentralDirectoryFileHeader::Deserialize(std::istream& stream)
{
    FileName.clear();
    ExtraFields.clear();
    FileComment.clear();

    ReadField(stream, Signature);
    ReadField(stream, VersionMadeBy);
    ReadField(stream, VersionNeededToExtract);
    ReadField(stream, GeneralPurposeBitFlag);
    ReadField(stream, CompressionMethod);
    ReadField(stream, LastModificationTime);
    ReadField(stream, LastModificationDate);
    ReadField(stream, Crc32);
    ReadField(stream, CompressedSize);
    ReadField(stream, UncompressedSize);
    ReadField(stream, FileNameLength);
    ReadField(stream, ExtraFieldLength);
    ReadField(stream, FileCommentLength);
    ReadField(stream, DiskNumberStart);
    ReadField(stream, InternalFileAttributes);
    ReadField(stream, ExternalFileAttributes);
    std::streamsize last = ReadField(stream, RelativeOffsetOfLocalHeader);
    if (stream.fail() || Signature != CentralDirectoryFileHeaderSignature)
        return RefuseHeader(stream, last);

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

    WriteField(stream, Signature);
    WriteField(stream, VersionMadeBy);
    WriteField(stream, VersionNeededToExtract);
    WriteField(stream, GeneralPurposeBitFlag);
    WriteField(stream, CompressionMethod);
    WriteField(stream, LastModificationTime);
    WriteField(stream, LastModificationDate);
    WriteField(stream, Crc32);
    WriteField(stream, CompressedSize);
    WriteField(stream, UncompressedSize);
    WriteField(stream, FileNameLength);
    WriteField(stream, ExtraFieldLength);
    WriteField(stream, FileCommentLength);
    WriteField(stream, DiskNumberStart);
    WriteField(stream, InternalFileAttributes);
    WriteField(stream, ExternalFileAttributes);
    WriteField(stream, RelativeOffsetOfLocalHeader);
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
