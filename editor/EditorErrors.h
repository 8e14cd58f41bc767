#pragma once
// Turning an exception into the reason shown to the user.
#include "editor/TextCodec.h"

#include <exception>
#include <string>

namespace editor {

inline std::wstring ReasonOf(const std::exception& e)
{
    return text::ToWide(e.what());
}

} // namespace editor
