#pragma once
// The one UTF-8 rule of the library and the editor: well-formed sequences only, so overlong
// forms, surrogates and values past U+10FFFF are not UTF-8.
#include <cstddef>
#include <string_view>

// Decodes the sequence at s[i] into `cp`; returns its length, or 0 when the bytes there are not a
// well-formed sequence.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp);

// Whether a name is UTF-8 with at least one character beyond ASCII: such names get the flag that
// tells readers so, or they show them in their legacy code page.
bool IsUtf8BeyondAscii(std::string_view name);
