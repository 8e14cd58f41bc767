#pragma once
// Turning an exception or a system error number into the reason shown to the user.
#include "editor/TextCodec.h"

#include <cstring>
#include <exception>
#include <string>

namespace editor {

inline std::wstring SystemError(int error)
{
    return text::ToWide(std::strerror(error));
}

inline std::wstring ReasonOf(const std::exception& e)
{
    return text::ToWide(e.what());
}

} // namespace editor
