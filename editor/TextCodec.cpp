#include "editor/TextCodec.h"

#include "zip/Utf8.h"

namespace text {

namespace {

constexpr char32_t ReservedFirst = 0xF780; // stands for byte 0x80
constexpr char32_t ReservedLast = 0xF7FF;  // stands for byte 0xFF

void AppendWide(std::wstring& out, char32_t cp)
{
    if constexpr (sizeof(wchar_t) >= 4)
        out.push_back(static_cast<wchar_t>(cp));
    else if (cp < 0x10000)
        out.push_back(static_cast<wchar_t>(cp));
    else
    {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80)
        out.push_back(static_cast<char>(cp));
    else if (cp < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else if (cp < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::wstring ToWide(std::string_view bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size())
    {
        char32_t cp = 0;
        const size_t n = DecodeUtf8(bytes, i, cp);
        if (n == 0 || (cp >= ReservedFirst && cp <= ReservedLast))
        {
            // A byte that is not part of a well-formed sequence, or a sequence that would read as
            // one of the reserved code points: each byte gets its own reserved code point.
            const size_t count = n == 0 ? 1 : n;
            for (size_t k = 0; k < count; ++k)
                out.push_back(static_cast<wchar_t>(0xF700 + static_cast<unsigned char>(bytes[i + k])));
            i += count;
            continue;
        }
        AppendWide(out, cp);
        i += n;
    }
    return out;
}

std::string ToNarrow(std::wstring_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i)
    {
        char32_t cp = static_cast<char32_t>(wide[i]);
        if constexpr (sizeof(wchar_t) < 4)
        {
            cp &= 0xFFFF;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size())
            {
                const char32_t low = static_cast<char32_t>(wide[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF)
                {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (cp >= ReservedFirst && cp <= ReservedLast)
            out.push_back(static_cast<char>(cp - 0xF700));
        else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            out.push_back('?');
        else
            AppendUtf8(out, cp);
    }
    return out;
}

std::filesystem::path PathFromWide(std::wstring_view wide)
{
    return std::filesystem::path(ToNarrow(wide));
}

std::wstring WideFromPath(const std::filesystem::path& path)
{
    return ToWide(path.native());
}

std::string FoldAscii(std::string_view s)
{
    std::string out(s);
    for (auto& c : out)
        c = FoldAscii(c);
    return out;
}

namespace {

template <class CharT>
bool EqualsFolded(std::basic_string_view<CharT> a, std::basic_string_view<CharT> b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

} // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    return EqualsFolded(a, b);
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b)
{
    return EqualsFolded(a, b);
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

} // namespace text
