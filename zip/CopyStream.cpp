#include "zip/CopyStream.h"

#include "zip/ZipArchiveEntry.h"

#include <vector>

void CopyStream(std::istream& input, std::ostream& output)
{
    std::vector<char> buffer(CopyBufferSize);
    std::streamsize got;
    do
    {
        input.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        got = input.gcount();
        output.write(buffer.data(), got);
    } while (got == static_cast<std::streamsize>(buffer.size()));
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
