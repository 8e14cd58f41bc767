#include "zip/CopyStream.h"

#include "zip/ZipArchiveEntry.h"

#include <memory>

void CopyStream(std::istream& input, std::ostream& output)
{
    // Not zeroed: a small copy touches only the pages it uses.
    const std::unique_ptr<char[]> buffer(new char[CopyBufferSize]);
    const auto size = static_cast<std::streamsize>(CopyBufferSize);
    std::streamsize got;
    do
    {
        input.read(buffer.get(), size);
        got = input.gcount();
        output.write(buffer.get(), got);
    } while (got == size);
}

bool SeekInputTo(std::istream& input, std::streamoff offset)
{
    input.clear();
    input.seekg(offset, std::ios::beg);
    return !input.fail();
}

bool PositionInputAt(std::istream& input, std::streamoff offset)
{
    input.clear();
    const std::streampos position = input.tellg();
    if (position >= 0 && static_cast<std::streamoff>(position) == offset)
        return true;
    return SeekInputTo(input, offset);
}
