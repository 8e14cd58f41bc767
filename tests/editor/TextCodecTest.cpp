// Narrow <-> wide text: valid UTF-8 reads as its characters, and every byte string survives the
// round trip through wide text, so a name the user left alone in the list comes back unchanged.
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <gtest/gtest.h>

#include <random>

using text::ToNarrow;
using text::ToWide;

TEST(TextCodec, ReadsValidUtf8AsItsCharacters)
{
    EXPECT_EQ(ToWide("scania_r"), L"scania_r");
    EXPECT_EQ(ToWide("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x9A\x9A"), L"caf\u00E9 \u20AC \U0001F69A");
    EXPECT_EQ(ToNarrow(L"caf\u00E9 \u20AC \U0001F69A"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x9A\x9A");
    EXPECT_EQ(ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(TextCodec, EveryByteStringSurvivesTheRoundTrip)
{
    // Latin-1 bytes, cut sequences, an overlong '/', a surrogate, a value past U+10FFFF, and
    // valid encodings of the reserved code points U+F780 and U+F7FF.
    const std::vector<std::string> samples = {"\xE9t\xE9", "\xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80",
                                              "\xF4\x90\x80\x80", "\xEF\x9E\x80", "\xEF\x9F\xBF\xEF\x9E\x80x"};
    for (const auto& s : samples)
    {
        EXPECT_EQ(ToNarrow(ToWide(s)), s);
        // Invalid bytes show as the reserved code points, never as '?' or U+FFFD.
        EXPECT_EQ(ToWide(s).find_first_of(L"?\uFFFD"), std::wstring::npos);
    }
    // Two different byte strings never read as the same text.
    EXPECT_NE(ToWide("\xEF\x9E\x80"), ToWide("\x80"));

    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i)
    {
        std::string s(rng() % 12, '\0');
        for (auto& c : s)
            c = static_cast<char>(rng() % 4 == 0 ? 0xE0 + rng() % 32 : 0x70 + rng() % 0x90);
        ASSERT_EQ(ToNarrow(ToWide(s)), s);
    }
}

TEST(TextCodec, CaseFoldingAndIndexOfTouchOnlyAsciiLetters)
{
    EXPECT_TRUE(text::EqualsIgnoreCase("Scania_R", "SCANIA_r"));
    EXPECT_FALSE(text::EqualsIgnoreCase("\xC3\x89", "\xC3\xA9")); // E acute vs e acute
    EXPECT_FALSE(text::EqualsIgnoreCase("[", "{"));             // neighbours of the letters
    EXPECT_FALSE(text::EqualsIgnoreCase("@", "`"));
    EXPECT_TRUE(text::StartsWithIgnoreCase("DEF/x", "def/"));
    EXPECT_FALSE(text::StartsWithIgnoreCase("def", "def/"));

    const std::vector<std::string> list = {"alpha", "Beta", "ALPHA"};
    EXPECT_EQ(PellucorEditor::IndexOf(list, "Alpha"), 2);
    EXPECT_EQ(PellucorEditor::IndexOf(list, "beta"), 1);
    EXPECT_EQ(PellucorEditor::IndexOf(list, "gamma"), -1);
    EXPECT_EQ(PellucorEditor::IndexOf({}, "alpha"), -1);
    EXPECT_EQ(PellucorEditor::IndexOf({"\xC3\xA9"}, "\xC3\x89"), -1);
}
