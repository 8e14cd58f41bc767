#include "editor/Patterns.h"

#include "editor/TextCodec.h"

#include <cstring>

namespace patterns {

namespace {

constexpr std::string_view TruckRoot = "def/vehicle/truck/";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// End of the line that starts at `pos`: the position of its LF, or the text's end.
size_t LineEnd(std::string_view text, size_t pos)
{
    if (pos >= text.size())
        return text.size();
    const void* lf = std::memchr(text.data() + pos, '\n', text.size() - pos);
    return lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
}

} // namespace

std::optional<std::string_view> MatchTruckFolder(std::string_view name)
{
    // A match starts at a line start; the group runs to the first '/' after the root and must
    // not be empty. Where that fails, only a later line start can match.
    size_t start = 0;
    while (start <= name.size())
    {
        const std::string_view rest = name.substr(start);
        if (text::StartsWithIgnoreCase(rest, TruckRoot))
        {
            const size_t groupStart = TruckRoot.size();
            const size_t slash = rest.find('/', groupStart);
            if (slash == std::string_view::npos)
                return std::nullopt; // no later line can hold a '/' either
            if (slash > groupStart)
                return rest.substr(groupStart, slash - groupStart);
        }
        const size_t lf = name.find('\n', start);
        if (lf == std::string_view::npos)
            break;
        start = lf + 1;
    }
    return std::nullopt;
}

namespace {

// Finds the accessory match on one line [lineStart, lineEnd); lineEnd is the LF or the text end.
// Keys may stand anywhere before the line's first '#'. The prefix run is greedy, so the key
// furthest right that can complete the match wins; after the key everything is forced apart from
// the value's length, and the value is the longest run that still lets the rest match. (No key
// further left can give a longer match: its value would have to run through the later key.)
std::optional<Span> MatchAccessoryLine(std::string_view text, size_t lineStart, size_t lineEnd,
                                       std::string_view key)
{
    constexpr size_t none = std::string_view::npos;
    const char* base = text.data();
    const void* hash = std::memchr(base + lineStart, '#', lineEnd - lineStart);
    const size_t keyLimit = hash ? static_cast<size_t>(static_cast<const char*>(hash) - base) : lineEnd;
    if (keyLimit - lineStart < key.size())
        return std::nullopt;

    std::vector<size_t> keys;
    const std::string_view region = text.substr(lineStart, keyLimit - lineStart);
    for (size_t at = region.find(key); at != none; at = region.find(key, at + 1))
        keys.push_back(lineStart + at);

    auto isStop = [&](size_t i) { return i >= lineEnd || text[i] == '\r' || IsBlank(text[i]); };

    // Keys are tried right to left, so their value starts fall. What is known of the run to the
    // right is kept, so that each byte of the line is scanned a bounded number of times:
    // [runFrom, runStop) holds no stop, runStop is one, runHash is the last '#' in that range.
    size_t runFrom = lineEnd, runStop = lineEnd, runHash = none;
    size_t tailFor = none;
    bool tailOk = false;
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
    {
        size_t i = *it + key.size();
        while (i < lineEnd && IsBlank(text[i]))
            ++i;
        if (i >= lineEnd || text[i] != ':')
            continue;
        ++i;
        while (i < lineEnd && IsBlank(text[i]))
            ++i;
        const size_t valueStart = i;
        if (isStop(valueStart))
            continue;

        // The longest run of value bytes, up to the next CR, blank or line end.
        size_t newHash = none;
        for (;; ++i)
        {
            if (i == runFrom)
            {
                if (runHash == none)
                    runHash = newHash;
                break;
            }
            if (isStop(i))
            {
                runStop = i;
                runHash = newHash;
                break;
            }
            if (text[i] == '#')
                newHash = i;
        }
        runFrom = valueStart;

        // Its tail: blanks, CRs, then an LF or a '#'.
        if (runStop != tailFor)
        {
            size_t j = runStop;
            while (j < lineEnd && IsBlank(text[j]))
                ++j;
            while (j < lineEnd && text[j] == '\r')
                ++j;
            tailFor = runStop;
            tailOk = j < text.size() && (text[j] == '\n' || text[j] == '#');
        }
        if (tailOk)
            return Span{valueStart, runStop - valueStart};
        // Otherwise only a shorter value that a '#' inside the run ends can do: the last such '#'.
        if (runHash != none && runHash > valueStart)
            return Span{valueStart, runHash - valueStart};
    }
    return std::nullopt;
}

} // namespace

std::optional<Span> FindAccessoryValue(std::string_view text, std::string_view kind)
{
    const std::string key = "accessory_" + std::string(kind) + "_data";
    size_t lineStart = 0;
    while (lineStart < text.size())
    {
        const size_t lineEnd = LineEnd(text, lineStart);
        if (auto found = MatchAccessoryLine(text, lineStart, lineEnd, key))
            return found;
        if (lineEnd >= text.size())
            break;
        lineStart = lineEnd + 1;
    }
    return std::nullopt;
}

std::vector<std::string> ParseTruckList(std::string_view text)
{
    std::vector<std::string> names;
    size_t lineStart = 0;
    while (true)
    {
        const size_t lineEnd = LineEnd(text, lineStart);
        size_t i = lineStart;
        while (i < lineEnd && IsBlank(text[i]))
            ++i;
        const size_t runStart = i;
        while (i < lineEnd && !IsBlank(text[i]) && text[i] != '\r')
            ++i;
        const size_t runEnd = i;
        while (i < lineEnd && IsBlank(text[i]))
            ++i;
        while (i < lineEnd && text[i] == '\r')
            ++i;
        if (runEnd > runStart && i == lineEnd)
            names.emplace_back(text.substr(runStart, runEnd - runStart));
        if (lineEnd >= text.size())
            break;
        lineStart = lineEnd + 1;
    }
    return names;
}

} // namespace patterns

namespace patterns {

std::string TruckListLine(std::string_view truck)
{
    std::string line(truck);
    for (auto& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

bool IsListable(std::string_view truck)
{
    const auto names = ParseTruckList(TruckListLine(truck));
    return names.size() == 1 && names.front() == truck;
}

} // namespace patterns
