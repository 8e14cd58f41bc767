// The three text patterns: the cases their rules name, agreement with a backtracking regular
// expression engine (Python's re) on many generated texts, and long inputs.
#include "editor/Patterns.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using patterns::FindAccessoryValue;
using patterns::MatchTruckFolder;
using patterns::ParseTruckList;

namespace {

std::string Value(const std::string& text, const std::string& kind = "engine")
{
    const auto span = FindAccessoryValue(text, kind);
    return span ? text.substr(span->offset, span->length) : "<none>";
}

std::string Truck(const std::string& name)
{
    const auto truck = MatchTruckFolder(name);
    return truck ? std::string(*truck) : "<none>";
}

std::string Hex(const std::string& s)
{
    std::ostringstream out;
    for (unsigned char c : s)
        out << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
    return out.str();
}

} // namespace

TEST(TruckFolderPattern, FindsTheFirstNameComponentAfterTheRoot)
{
    EXPECT_EQ(Truck("def/vehicle/truck/alpha/engine/a.sii"), "alpha");
    EXPECT_EQ(Truck("def/vehicle/truck/alpha/"), "alpha");
    EXPECT_EQ(Truck("DEF/Vehicle/TRUCK/Alpha/x"), "Alpha");
    EXPECT_EQ(Truck("def/vehicle/truck/alpha"), "<none>");
    EXPECT_EQ(Truck("def/vehicle/truck//x/"), "<none>");
    EXPECT_EQ(Truck("x/def/vehicle/truck/alpha/"), "<none>");
    // "^" also matches after an LF, never after a lone CR; NUL is an ordinary byte.
    EXPECT_EQ(Truck("junk\ndef/vehicle/truck/beta/"), "beta");
    EXPECT_EQ(Truck("junk\rdef/vehicle/truck/beta/"), "<none>");
    EXPECT_EQ(Truck(std::string("def/vehicle/truck/a\0b/", 22)), std::string("a\0b", 3));
    EXPECT_EQ(Truck("def/vehicle/truck/x\ndef/vehicle/truck/y/"), "x\ndef");
}

TEST(AccessoryPattern, RewritesOnlyTheValueOfTheFirstActiveLine)
{
    EXPECT_EQ(Value("\taccessory_engine_data: e400.bravo.engine\r\n"), "e400.bravo.engine");
    EXPECT_EQ(Value("accessory_engine_data:e\r\r\n"), "e");
    EXPECT_EQ(Value("accessory_engine_data :\t v  # note\n"), "v");
    EXPECT_EQ(Value("accessory_engine_data: v#note\n"), "v#note");
    EXPECT_EQ(Value("a: accessory_engine_data: one\n accessory_engine_data: two\n"), "one");
    EXPECT_EQ(Value("# accessory_engine_data: old\naccessory_engine_data: new\n"), "new");
    EXPECT_EQ(Value("x_accessory_engine_data: long\n"), "long");
    EXPECT_EQ(Value("accessory_Engine_data: t\n", "Engine"), "t");

    // Not found: last line without LF or '#', key after '#', empty value.
    EXPECT_EQ(Value("accessory_engine_data: v"), "<none>");
    EXPECT_EQ(Value("x # accessory_engine_data: v\n"), "<none>");
    EXPECT_EQ(Value("accessory_engine_data: \n"), "<none>");
}

TEST(ListPattern, YieldsTheSingleWordOfEachWellFormedLine)
{
    EXPECT_EQ(ParseTruckList("  alpha  \r\nbeta\r\r\n\r\ntwo words\r\n\tgamma"),
              (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_TRUE(ParseTruckList("alpha\rbeta").empty());
    EXPECT_TRUE(ParseTruckList(" \t\r\n\n  \r\n").empty());
    EXPECT_EQ(ParseTruckList(std::string("x\0y\n", 4)), std::vector<std::string>{std::string("x\0y", 3)});
}

// Python's re is a backtracking engine; on these patterns it gives the leftmost match with the
// longest value, which is what the scanners must reproduce.
TEST(Patterns, AgreeWithARegularExpressionEngineOnGeneratedTexts)
{
    static const char* tokens[] = {"accessory_engine_data", "accessory_engine_dat", "a", ":", " ", "\t",
                                   "\r", "\n", "#", "x", "v.1", "def/vehicle/truck/", "DEF/Vehicle/Truck/", "/", "\0"};
    std::mt19937 rng(7);
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i)
    {
        std::string text;
        const int count = static_cast<int>(rng() % 14);
        for (int k = 0; k < count; ++k)
        {
            const auto* t = tokens[rng() % (sizeof(tokens) / sizeof(tokens[0]))];
            text += *t ? std::string(t) : std::string(1, '\0');
        }
        texts.push_back(text);
    }
    std::string input;
    for (const auto& t : texts)
        input += Hex(t) + "\n";
    testutil::TempDir dir;
    testutil::WriteFile(dir / "texts.txt", input);

    const auto result = testutil::RunPython(R"(
import re, sys
acc = re.compile(rb'^[^#\n]*accessory_engine_data[ \t]*:[ \t]*([^\r\n \t]+)[ \t]*\r*[\n#]', re.M)
truck = re.compile(rb'^def/vehicle/truck/([^/]+)/', re.M | re.I)
lst = re.compile(rb'^[ \t]*([^ \t\n\r]+)[ \t]*\r*$', re.M | re.I)
for line in open(sys.argv[1]):
    t = bytes.fromhex(line.strip())
    m = acc.search(t)
    a = '%d,%d' % (m.start(1), m.end(1)) if m else '-'
    m = truck.search(t)
    b = m.group(1).hex() if m else '-'
    c = ','.join(x.group(1).hex() for x in lst.finditer(t)) or '-'
    print(a, b, c)
)",
                                            {(dir / "texts.txt").string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;

    std::istringstream lines(result.output);
    for (const auto& text : texts)
    {
        std::string acc, truck, list;
        lines >> acc >> truck >> list;
        const auto span = FindAccessoryValue(text, "engine");
        const std::string mineAcc =
            span ? std::to_string(span->offset) + "," + std::to_string(span->offset + span->length) : "-";
        const auto t = MatchTruckFolder(text);
        const std::string mineTruck = t ? (t->empty() ? "" : Hex(std::string(*t))) : "-";
        std::string mineList;
        for (const auto& name : ParseTruckList(text))
            mineList += (mineList.empty() ? "" : ",") + Hex(name);
        if (mineList.empty())
            mineList = "-";
        EXPECT_EQ(mineAcc, acc) << "text " << Hex(text);
        EXPECT_EQ(mineTruck, truck) << "text " << Hex(text);
        EXPECT_EQ(mineList, list) << "text " << Hex(text);
    }
}

TEST(Patterns, HandleMultiMegabyteInputInLinearTime)
{
    // A 20 MB definition file whose first half is one line; the key repeated all along it, so a
    // scanner that starts over for each key would not finish.
    std::string key = "accessory_engine_data:";
    std::string longLine;
    while (longLine.size() < 10'000'000)
        longLine += key;
    std::string text = longLine + " x y\n" + std::string(10'000'000, 'y') + "\naccessory_engine_data: e.t.engine\r\n";
    auto span = FindAccessoryValue(text, "engine");
    ASSERT_TRUE(span);
    EXPECT_EQ(text.substr(span->offset, span->length), "e.t.engine");

    // The same line ending in a value with '#' inside: only the last key can match.
    text = longLine + "v#w z\n";
    span = FindAccessoryValue(text, "engine");
    ASSERT_TRUE(span);
    EXPECT_EQ(text.substr(span->offset, span->length), "v");

    // A 10 MB list text, one line and many lines.
    EXPECT_EQ(ParseTruckList(std::string(10'000'000, 'a')).size(), 1u);
    std::string list;
    while (list.size() < 10'000'000)
        list += "truck\r\n";
    EXPECT_EQ(ParseTruckList(list).size(), list.size() / 7);

    const std::string name = "def/vehicle/truck/" + std::string(10'000'000, 'n') + "/";
    EXPECT_EQ(MatchTruckFolder(name)->size(), 10'000'000u);
}
