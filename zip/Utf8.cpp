#include "zip/Utf8.h"

namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

} // namespace

size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    const size_t left = s.size() - i;
    if (b0 < 0x80)
    {
        cp = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF)
    {
        if (left < 2 || !IsContinuation(static_cast<unsigned char>(s[i + 1])))
            return 0;
        cp = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF)
    {
        if (left < 3)
            return 0;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        const auto b2 = static_cast<unsigned char>(s[i + 2]);
        if (!IsContinuation(b1) || !IsContinuation(b2))
            return 0;
        if (b0 == 0xE0 && b1 < 0xA0) // overlong
            return 0;
        if (b0 == 0xED && b1 >= 0xA0) // surrogates
            return 0;
        cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (b2 & 0x3F);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4)
    {
        if (left < 4)
            return 0;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        const auto b2 = static_cast<unsigned char>(s[i + 2]);
        const auto b3 = static_cast<unsigned char>(s[i + 3]);
        if (!IsContinuation(b1) || !IsContinuation(b2) || !IsContinuation(b3))
            return 0;
        if (b0 == 0xF0 && b1 < 0x90) // overlong
            return 0;
        if (b0 == 0xF4 && b1 >= 0x90) // past U+10FFFF
            return 0;
        cp = (char32_t(b0 & 0x07) << 18) | (char32_t(b1 & 0x3F) << 12) | (char32_t(b2 & 0x3F) << 6) | (b3 & 0x3F);
        return 4;
    }
    return 0;
}

bool IsUtf8BeyondAscii(std::string_view name)
{
    bool beyondAscii = false;
    char32_t value = 0;
    for (size_t i = 0; i < name.size();)
    {
        const size_t length = DecodeUtf8(name, i, value);
        if (length == 0)
            return false;
        beyondAscii = beyondAscii || value >= 0x80;
        i += length;
    }
    return beyondAscii;
}
