#pragma once
// The editor's three text patterns, as purpose-written scanners. Each gives the result of an
// egrep search in which "^" matches at the start of the text and right after each LF, and a CR
// ends no line. They run in linear time, use no recursion, and take NUL bytes as ordinary bytes.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace patterns {

// "^def/vehicle/truck/([^/]+)/", ASCII case ignored, searched in an entry name: the truck name of
// the leftmost match (group 1), or nothing.
std::optional<std::string_view> MatchTruckFolder(std::string_view name);

struct Span
{
    size_t offset = 0;
    size_t length = 0;
};

// "^[^#\n]*accessory_" kind "_data[ \t]*:[ \t]*([^\r\n \t]+)[ \t]*\r*[\n#]", case-sensitive,
// searched once in a definition file: the position of the value (group 1) of the leftmost
// match, or nothing. Of the matches that start on the same line the longest counts, and among
// equally long ones the one whose key stands furthest right.
std::optional<Span> FindAccessoryValue(std::string_view text, std::string_view kind);

// All matches of "^[ \t]*([^ \t\n\r]+)[ \t]*\r*$" in the list text: each line (cut at LF) that
// holds blanks, one run of other characters, blanks and CRs, in that order, gives its run.
std::vector<std::string> ParseTruckList(std::string_view text);

// The line the truck list shows for a truck: its name, with each CR and LF (which would break
// the line in two) shown as a blank.
std::string TruckListLine(std::string_view truck);
// Whether the list can hold the truck: its line parses back as exactly its name. A name with
// white space inside cannot be held, so leaving it out of the list cannot mean removing it.
bool IsListable(std::string_view truck);

} // namespace patterns
