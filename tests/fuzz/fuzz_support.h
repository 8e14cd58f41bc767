#pragma once
// What the fuzz targets share: reading choices out of the fuzz input, making entry data from
// them, draining streams within a budget, and reporting a failed check on stderr, so that a
// crash file found by the fuzzer (or a replayed regression) says what went wrong where.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

namespace fuzzing {

// The fuzz input read front to back as a sequence of choices. Past its end every choice is 0
// and every byte string empty, so that any input, also a cut one, is a valid program.
class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Empty() const { return position >= size; }
    size_t Remaining() const { return size - position; }

    uint8_t Byte() { return position < size ? data[position++] : 0; }
    bool Flag() { return (Byte() & 1) != 0; }

    // A number from 0 to limit; as few bytes as the limit needs (1, 2 or 4), little-endian.
    uint32_t Number(uint32_t limit)
    {
        const int bytes = limit < 0x100 ? 1 : limit < 0x10000 ? 2 : 4;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<uint32_t>(Byte()) << (8 * i);
        return limit == UINT32_MAX ? value : value % (limit + 1);
    }

    // A length from 0 to maxLength, then that many bytes (fewer where the input ends).
    std::string Bytes(uint32_t maxLength)
    {
        const size_t wanted = Number(maxLength);
        const size_t taken = std::min(wanted, Remaining());
        std::string result(reinterpret_cast<const char*>(data + position), taken);
        position += taken;
        return result;
    }

    std::string Rest()
    {
        std::string result(reinterpret_cast<const char*>(data + position), Remaining());
        position = size;
        return result;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

// Entry data of up to `limit` bytes, in one of the shapes that matter to the codecs: bytes
// from the input, a run of one byte, a short pattern repeated (large and highly compressible
// data from a few input bytes), or input bytes followed by a tail of zero bytes.
inline std::string MakeData(FuzzInput& input, size_t limit)
{
    constexpr uint32_t LargeData = 70000; // past two 32 KiB blocks
    std::string data;
    switch (input.Byte() % 4)
    {
    case 0:
        data = input.Bytes(4096);
        break;
    case 1:
    {
        const char value = static_cast<char>(input.Byte());
        data.assign(input.Number(LargeData), value);
        break;
    }
    case 2:
    {
        std::string pattern = input.Bytes(32);
        if (pattern.empty())
            pattern.assign(1, '\0');
        const size_t length = input.Number(LargeData);
        data.reserve(length);
        while (data.size() < length)
            data.append(pattern, 0, std::min(pattern.size(), length - data.size()));
        break;
    }
    default:
        data = input.Bytes(1024);
        data.append(input.Number(255), '\0');
        break;
    }
    if (data.size() > limit)
        data.resize(limit);
    return data;
}

// Reads a stream to its end or until `budget` bytes came, in reads of `chunk` bytes.
inline std::string Drain(std::istream* stream, size_t& budget, size_t chunk = 16384)
{
    std::string data;
    if (!stream)
        return data;
    std::string buffer(std::max<size_t>(chunk, 1), '\0');
    while (budget > 0)
    {
        stream->read(&buffer[0], static_cast<std::streamsize>(std::min(buffer.size(), budget)));
        const auto got = static_cast<size_t>(stream->gcount());
        data.append(buffer, 0, got);
        budget -= got;
        if (got == 0)
            break;
    }
    return data;
}

// Bytes as readable text: printable ASCII as it is, everything else escaped; long ones cut.
inline std::string Printable(const std::string& bytes, size_t limit = 64)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i)
    {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"')
        {
            text += static_cast<char>(c);
        }
        else
        {
            text += "\\x";
            text += digits[c >> 4];
            text += digits[c & 15];
        }
    }
    if (bytes.size() > limit)
        text += "...";
    return "\"" + text + "\"";
}

// Where two byte strings part: "expected N bytes, got M, first difference at byte K".
inline std::string Difference(const std::string& expected, const std::string& got)
{
    const auto parted = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
    return "expected " + std::to_string(expected.size()) + " bytes, got " + std::to_string(got.size()) +
           ", first difference at byte " + std::to_string(parted.first - expected.begin());
}

// Reports a failed check and returns false, for `return Fail(...)` at the point of failure.
inline bool Fail(const char* target, const std::string& check, const std::string& detail)
{
    std::fprintf(stderr, "%s: check '%s' failed: %s\n", target, check.c_str(), detail.c_str());
    std::fflush(stderr);
    return false;
}

} // namespace fuzzing
