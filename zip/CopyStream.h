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

// Positions a shared input stream at an absolute offset, asking the stream where it stands
// first: when it is already there, no seek is made, so a buffered stream keeps its buffer.
// The stream's own position is the truth; other readers of the stream may have moved it.
bool PositionInputAt(std::istream& input, std::streamoff offset);
