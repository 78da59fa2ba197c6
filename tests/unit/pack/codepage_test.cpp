#include "tools/pack/CodePage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CodePage, ConvertsToTheAnsiCodePage)
{
    struct Case {
        int codePage;
        std::string utf8;
        std::string ansi;
    };
    for (const Case& c : std::vector<Case>{
             {1252, "plain.txt", "plain.txt"},
             {1252, "caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},             // café €
             {1252, "\xC5\xB8 \xC3\xBF \xE2\x84\xA2", "\x9F \xFF \x99"},      // Ÿ ÿ ™
             {1252, "\xC2\xA0\xC2\xBF", "\xA0\xBF"},
             {1250, "\xC5\x91r\xC3\xBC", "\xF5r\xFC"},                       // őrü
             {1251, "\xD0\x9F\xD1\x80\xD0\xB8", "\xCF\xF0\xE8"},              // При
             {1253, "\xCE\xB1", "\xE1"},                                      // α
         }) {
        std::string out;
        ASSERT_TRUE(ToAnsi(c.utf8, c.codePage, out)) << c.utf8;
        EXPECT_EQ(out, c.ansi) << c.utf8;
        EXPECT_EQ(FromAnsi(out, c.codePage), c.utf8);
    }
}

TEST(CodePage, RefusesWhatTheCodePageCannotHold)
{
    struct Case {
        int codePage;
        std::string utf8;
    };
    for (const Case& c : std::vector<Case>{
             {1252, "\xE4\xB8\xAD"},       // a CJK character
             {1252, "\xC5\x91"},           // ő is not in 1252
             {1252, "\xC2\x81"},           // a C1 control, one of 1252's holes
             {1252, "\xF0\x9F\x98\x80"},   // emoji
             {1252, "\xC3"},               // cut-off sequence
             {1252, "\xC0\xAF"},           // overlong "/"
             {1252, "\xED\xA0\x80"},       // surrogate
             {1252, "\xFF"},
             {1250, "\xC3\xA6"},           // æ is not in 1250
             {65001, "a"},                 // not a single-byte code page
         }) {
        std::string out;
        EXPECT_FALSE(ToAnsi(c.utf8, c.codePage, out)) << c.codePage << " " << c.utf8;
    }
}

TEST(CodePage, EveryDefinedByteOf1252RoundTrips)
{
    for (int b = 1; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue;
        std::string ansi(1, static_cast<char>(b)), back;
        ASSERT_TRUE(ToAnsi(FromAnsi(ansi, 1252), 1252, back)) << b;
        EXPECT_EQ(back, ansi) << b;
    }
}

TEST(CodePage, FoldCaseMatchesNamesAsWindowsDoes)
{
    EXPECT_EQ(FoldCase("readme.txt"), FoldCase("README.TXT"));
    EXPECT_EQ(FoldCase("\xC3\xA9t\xC3\xA9.doc"), FoldCase("\xC3\x89T\xC3\x89.DOC")); // été / ÉTÉ
    EXPECT_EQ(FoldCase("\xC5\x93"), FoldCase("\xC5\x92"));                           // œ / Œ
    EXPECT_EQ(FoldCase("\xC5\xBE"), FoldCase("\xC5\xBD"));                           // ž / Ž
    EXPECT_EQ(FoldCase("\xD0\xB0\xD1\x91"), FoldCase("\xD0\x90\xD0\x81"));           // аё / АЁ
    EXPECT_NE(FoldCase("a.txt"), FoldCase("b.txt"));
    EXPECT_NE(FoldCase("\xC3\xB7"), FoldCase("\xC3\x97"));                           // ÷ is not ×
}
