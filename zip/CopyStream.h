#pragma once
// Helpers shared by the archive and its entries for copying and positioning streams.
#include <cstddef>
#include <ios>
#include <istream>
#include <ostream>

// Size of the one buffer through which bytes are copied.
constexpr size_t CopyBufferSize = 1048576;

// Positions a shared input stream at an absolute offset. The state is cleared first: a
// short read by one reader leaves failbit set, and a failed stream ignores every later seek.
bool SeekInputTo(std::istream& input, std::streamoff offset);
