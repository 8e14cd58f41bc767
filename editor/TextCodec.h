#pragma once
// Narrow <-> wide text for entry names, the truck list and paths, and ASCII-only case folding.
//
// Narrow text is UTF-8 on this platform. Names in an archive are bytes and need not be valid
// UTF-8, yet a name the user leaves alone in the list must come back byte for byte. So every
// byte of an invalid sequence is shown as a code point reserved for it (U+F780..U+F7FF for the
// bytes 0x80..0xFF, in the private use area, so it survives UTF-16 and the window layer), and a
// valid encoding of one of those reserved code points is escaped byte by byte the same way. That
// makes bytes -> wide -> bytes the identity for every byte string.
#include <filesystem>
#include <string>
#include <string_view>

namespace text {

std::wstring ToWide(std::string_view bytes);
// Wide characters that have no UTF-8 form (lone surrogates, values past U+10FFFF) become '?'.
std::string ToNarrow(std::wstring_view wide);

// Paths are bytes on Linux; wide paths go through the same codec.
std::filesystem::path PathFromWide(std::wstring_view wide);
std::wstring WideFromPath(const std::filesystem::path& path);

// Case folding of the ASCII letters A-Z only, independent of the locale.
constexpr char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
std::string FoldAscii(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);
// Whether `s` begins with `prefix`, ASCII case ignored; a shorter `s` never does.
bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix);

} // namespace text
