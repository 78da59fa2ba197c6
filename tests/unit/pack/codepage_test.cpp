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
             // Double-byte code pages: a trail byte may be "\\" (0x5C).
             {932, "\xE8\xA1\xA8\xE8\xA8\x88\xE7\xAE\x97.txt", "\x95\x5C\x8C\x76\x8E\x5A.txt"}, // 表計算.txt
             {932, "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.ini", "\x83\x5C\x83\x74\x83\x67.ini"}, // ソフト.ini
             {932, "\xEF\xBD\x9E\xEF\xBC\x8D", "\x81\x60\x81\x7C"}, // ～－, as Windows maps them
             {936, "\xE4\xB8\xAD\xE2\x82\xAC", "\xD6\xD0\x80"},        // 中€
             {949, "\xED\x95\x9C\xE2\x82\xAC", "\xC7\xD1\xA2\xE6"},   // 한€
             {950, "\xE4\xB8\xAD\xE2\x82\xAC", "\xA4\xA4\xA3\xE1"},   // 中€
             {65001, "\xC3\x9C \xE8\xA1\xA8 \xF0\x9F\x98\x80", "\xC3\x9C \xE8\xA1\xA8 \xF0\x9F\x98\x80"}, // Ü 表 😀
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
        std::string bad = ""; // the character named, when there is one
    };
    for (const Case& c : std::vector<Case>{
             {1252, "x\xE4\xB8\xAD", "\xE4\xB8\xAD"}, // a CJK character
             {1252, "\xC5\x91"},           // ő is not in 1252
             {1252, "\xC2\x81"},           // a C1 control, one of 1252's holes
             {1252, "\xF0\x9F\x98\x80"},   // emoji
             {1252, "\xC3"},               // cut-off sequence
             {1252, "\xC0\xAF"},           // overlong "/"
             {1252, "\xED\xA0\x80"},       // surrogate
             {1252, "\xFF"},
             {1250, "\xC3\xA6"},           // æ is not in 1250
             {437, "a"},                   // not a Windows ANSI code page
             // No best fit: a character that comes back as another is refused.
             {932, "\xC2\xA5", "\xC2\xA5"},       // ¥ would become "\\"
             {932, "\xE3\x80\x9C", "\xE3\x80\x9C"}, // 〜 would come back as ～
             {932, "\xE2\x82\xAC", "\xE2\x82\xAC"}, // € is not in 932
             {936, "\xED\x95\x9C", "\xED\x95\x9C"}, // 한 is not in GBK
             {949, "\xC2\xA6"},
             {950, "\xC3\xBC"},
             {65001, "\xC3"},             // not UTF-8 whatever the code page
             {65001, "\xED\xA0\x80"},
         }) {
        std::string out, bad;
        EXPECT_FALSE(ToAnsi(c.utf8, c.codePage, out, &bad)) << c.codePage << " " << c.utf8;
        if (!c.bad.empty()) {
            EXPECT_EQ(bad, c.bad) << c.codePage;
        }
    }
}

TEST(CodePage, ComposesNamesAsWindowsUsersTypeThem)
{
    // "U" + combining diaeresis, as macOS writes names, is "Ü".
    std::string out;
    ASSERT_TRUE(ToAnsi("U\xCC\x88""berblick.txt", 1252, out));
    EXPECT_EQ(out, "\xDC""berblick.txt");
    ASSERT_TRUE(ToAnsi("U\xCC\x88""berblick.txt", 65001, out));
    EXPECT_EQ(out, "\xC3\x9C""berblick.txt");
    EXPECT_EQ(Composed("e\xCC\x81t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Composed("\xFF"), "\xFF"); // not UTF-8: left as it is
}

TEST(CodePage, ShowsWhatItCannotDecodeAsReplacement)
{
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(FromAnsi("a\xC3", 65001), "a" + replacement);
    EXPECT_EQ(FromAnsi("\xFF\xC3\xA9", 65001), replacement + "\xC3\xA9");
    EXPECT_EQ(FromAnsi("\x95", 932), replacement);          // a lead byte, cut off
    EXPECT_EQ(FromAnsi("\x95\x5Cx", 932), "\xE8\xA1\xA8x"); // 表x
    EXPECT_TRUE(IsText("\x95\x5Cx", 932));
    EXPECT_FALSE(IsText("\x95", 932));
    EXPECT_FALSE(IsText("caf\xE9", 65001));
    EXPECT_TRUE(IsText("caf\xC3\xA9", 65001));
    EXPECT_TRUE(IsText("caf\xE9", 1252));
}

TEST(CodePage, RuleFormKeepsOnlyWhatTheNameRulesLookAt)
{
    EXPECT_EQ(RuleForm("\xE8\xA1\xA8\\a:b"), "\x80\\a:b");
    EXPECT_EQ(RuleForm("COM\xC2\xB9.txt"), "COM\xB9.txt"); // superscript one: still a device name
    EXPECT_EQ(Utf16Length("a\xC3\xA9\xE8\xA1\xA8\xF0\x9F\x98\x80"), 5u); // a é 表 and a surrogate pair
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
    EXPECT_EQ(FoldCase("\xEF\xBD\x81.txt"), FoldCase("\xEF\xBC\xA1.TXT"));           // ａ / Ａ, full width
    EXPECT_EQ(FoldCase("\xD5\xA1"), FoldCase("\xD4\xB1"));                           // Armenian ա / Ա
    EXPECT_EQ(FoldCase("\xC6\x80"), FoldCase("\xC9\x83"));                           // ƀ / Ƀ
    EXPECT_EQ(FoldCase("\xC3\x9F"), "\xC3\x9F");                                     // ß stays one character
    EXPECT_NE(FoldCase("\xCF\x82"), FoldCase("\xCE\xA3"));                           // final ς is not Σ
    EXPECT_NE(FoldCase("a.txt"), FoldCase("b.txt"));
    EXPECT_NE(FoldCase("\xC3\xB7"), FoldCase("\xC3\x97"));                           // ÷ is not ×
}
