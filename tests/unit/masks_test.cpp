#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "cabinet/Masks.h"
#include "services/SetupError.h"
#include "tests/unit/WideText.h"

namespace {

// The answer for a valid mask: an error here fails the test.
bool Matches(const std::string& name, const std::string& mask)
{
    bool matches = true;
    SetupError error = MatchesMask(String(name), String(mask), matches);
    EXPECT_FALSE(error) << Utf8Of(error.Message());
    return matches;
}

// The message of the error for an invalid mask; the answer is then false.
std::string MaskError(const std::string& name, const std::string& mask)
{
    bool matches = true;
    SetupError error = MatchesMask(String(name), String(mask), matches);
    EXPECT_FALSE(matches);
    return error ? Utf8Of(error.Message()).c_str() : "no error";
}

struct MatchCase {
    const char* mask;
    const char* name;
    bool matches;
};

class MaskMatch : public ::testing::TestWithParam<MatchCase> {};

// A text spelled with the characters a test name may hold, so that each
// case has a name that stays the same from run to run: "*.txt" is
// "StarDottxt", "" is "Empty". Long texts are cut, with their length.
std::string Spelled(const std::string& text)
{
    static const char kSigns[] = "*?.\\[]!- ";
    static const char* const kWords[] = {"Star", "Any", "Dot", "Bs", "Set", "End", "Not", "To", "Sp"};
    std::string out;
    for (char c : text) {
        const char* sign = c ? std::strchr(kSigns, c) : nullptr;
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += c;
        else
            out += sign ? kWords[sign - kSigns] : "X" + std::to_string(static_cast<unsigned char>(c));
    }
    if (out.size() > 40)
        out = out.substr(0, 40) + "_etc" + std::to_string(text.size());
    return out.empty() ? "Empty" : out;
}

std::string MatchName(const ::testing::TestParamInfo<MatchCase>& info)
{
    return Spelled(info.param.mask) + "_vs_" + Spelled(info.param.name);
}

TEST_P(MaskMatch, GivesExpectedAnswer)
{
    const MatchCase& c = GetParam();
    EXPECT_EQ(Matches(c.name, c.mask), c.matches) << "mask '" << c.mask << "', name '" << c.name << "'";
}

const MatchCase PayloadMask[] = {
    // The installer's "*.*" needs a dot somewhere, folders included.
    {"*.*", "readme.txt", true},
    {"*.*", "README", false},
    {"*.*", "bin\\tool", false},
    {"*.*", "v1.0\\tool", true},
    {"*.*", ".", true},
    {"*.*", "", false},
    {"*", "", true},
    {"*", "anything\\at all", true},
    {"", "", true},
    {"", "a", false},
};
INSTANTIATE_TEST_SUITE_P(Payload, MaskMatch, ::testing::ValuesIn(PayloadMask), MatchName);

const MatchCase SingleName[] = {
    // The license run: one name, any letter case, no folders around it.
    {"License.txt", "license.TXT", true},
    {"License.txt", "LICENSE.TXT", true},
    {"License.txt", "docs\\License.txt", false},
    {"License.txt", "License.txt.bak", false},
    {"License.txt", "License.tx", false},
    {"a.txt", "b.txt", false},
};
INSTANTIATE_TEST_SUITE_P(SingleName, MaskMatch, ::testing::ValuesIn(SingleName), MatchName);

const MatchCase Wildcards[] = {
    {"?", "a", true},
    {"?", "", false},
    {"?", "ab", false},
    {"a?c", "abc", true},
    {"a?c", "ac", false},
    // "*?" behaves as "*": the "?" adds nothing, even several of them.
    {"*?", "", true},
    {"a*?", "a", true},
    {"a*??", "a", true},
    {"*?b", "b", true},
    // A "?" before the star still counts.
    {"?*", "", false},
    {"?*", "x", true},
    {"*a*b*c", "xxaxxbxxc", true},
    {"*a*b*c", "xxaxxcxxb", false},
    {"*ab", "aab", true},
    {"*ab", "abab", true},
    {"*ab", "aba", false},
    {"a*", "A", true},
    {"**b", "ab", true},
    {"*.exe", "setup.EXE", true},
    {"*.exe", "setup.exe.txt", false},
};
INSTANTIATE_TEST_SUITE_P(Wildcards, MaskMatch, ::testing::ValuesIn(Wildcards), MatchName);

const MatchCase Sets[] = {
    {"[abc]", "b", true},
    {"[abc]", "B", true},
    {"[ABC]", "c", true},
    {"[abc]", "d", false},
    {"[abc]", "", false},
    {"[a-c]x", "Bx", true},
    {"[a-c]x", "dx", false},
    {"[A-C]", "b", true},
    {"[!a-c]", "d", true},
    {"[!a-c]", "B", false},
    {"[!a]", "", false},
    // A "-" right before the "]" stands for itself.
    {"[a-]", "-", true},
    {"[a-]", "b", false},
    // After a range, a "-" continues from the range's end.
    {"[a-c-e]", "d", true},
    {"[a-c-e]", "f", false},
    // A reversed range adds nothing beyond its first character.
    {"[z-a]", "z", true},
    {"[z-a]", "m", false},
    {"[0-9][0-9].dat", "42.dat", true},
    {"[0-9][0-9].dat", "4x.dat", false},
    {"*[xyz]", "abcY", true},
    {"*[!xyz]", "abcY", false},
    // Special characters are plain inside a set.
    {"[*?]", "?", true},
    {"[*?]", "a", false},
    {"[*?]", "*", true},
};
INSTANTIATE_TEST_SUITE_P(Sets, MaskMatch, ::testing::ValuesIn(Sets), MatchName);

const MatchCase NonLetters[] = {
    // Only ASCII letters fold; bytes of the code page's upper half compare
    // as they are.
    {"\xC4.txt", "\xC4.TXT", true},
    {"\xC4.txt", "\xE4.txt", false},
    {"[\xC0-\xDF]", "\xC9", true},
    {"[\xC0-\xDF]", "\xE9", false},
    // Ranges are taken in upper case at both ends: "[_-a]" is "[_-A]", a
    // reversed range that holds "_" alone.
    {"[_-a]", "_", true},
    {"[_-a]", "`", false},
    {"[!a-C-c]", "]", true},
    {"@", "`", false},
    {"]", "]", true},
};
INSTANTIATE_TEST_SUITE_P(NonLetters, MaskMatch, ::testing::ValuesIn(NonLetters), MatchName);

struct InvalidCase {
    std::string mask;
    int position;
};

class InvalidMask : public ::testing::TestWithParam<InvalidCase> {};

std::string Stars(int count)
{
    std::string mask;
    for (int i = 0; i < count; ++i)
        mask += "*x";
    return mask;
}

TEST_P(InvalidMask, RaisesWithPosition)
{
    const InvalidCase& c = GetParam();
    std::string expected = "'" + c.mask + "' is an invalid mask at (" + std::to_string(c.position) + ")";
    EXPECT_EQ(MaskError("abc", c.mask), expected);
}

const InvalidCase Faults[] = {
    {"[abc", 5},   // "[" without "]": one past the end
    {"x[", 3},
    {"[!", 3},
    {"[]", 2},     // empty set
    {"[!]", 3},
    {"[-a]", 2},   // "-" with nothing before it
    {"[!-a]", 3},
    {"ab[c]d[-]", 8},
    {Stars(31), 62}, // the 31st element after a star
};
INSTANTIATE_TEST_SUITE_P(Faults, InvalidMask, ::testing::ValuesIn(Faults),
                         [](const ::testing::TestParamInfo<InvalidCase>& info) { return Spelled(info.param.mask); });

TEST(MaskLimits, ThirtyFloatingElementsAreAllowed)
{
    EXPECT_TRUE(Matches("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", Stars(30)));
    EXPECT_FALSE(Matches("xxxxxxxxxxxxxxxxxxxxxxxxxxxxx", Stars(30)));
    // Stars in a row and "?" right after them are not elements.
    EXPECT_TRUE(Matches("x", "*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*x"));
}

TEST(MaskLimits, InvalidMaskFailsWhateverTheName)
{
    // The mask is checked before any character is compared.
    EXPECT_EQ(MaskError("", "[a"), "'[a' is an invalid mask at (3)");
    EXPECT_EQ(MaskError("zzz", "a[]"), "'a[]' is an invalid mask at (3)");
}

TEST(MaskLimits, DecodedNamesGoCharacterByCharacter)
{
    // A decoded name: one "?" is one character, whatever its code page
    // form, and sets and ranges hold characters past 255.
    struct Case {
        const char16_t* mask;
        const char16_t* name;
        bool matches;
    };
    const Case cases[] = {
        {u"?.txt", u"表.txt", true},
        {u"??.txt", u"表.txt", false},
        {u"*.ini", u"ソフト.ini", true},
        {u"ユーザー.txt", u"ユーザー.TXT", true},
        {u"ユーザー.txt", u"ユーザ.txt", false},
        {u"[ぁ-ん]*", u"よてい", true},
        {u"[ぁ-ん]*", u"予定", false},
        {u"[!表]計算.txt", u"表計算.txt", false},
        {u"[!表]計算.txt", u"会計算.txt", true},
        // Case folds for ASCII letters only.
        {u"é", u"É", false},
    };
    for (const Case& c : cases) {
        bool matches = !c.matches;
        SetupError error = MatchesMask(WString(c.name), WString(c.mask), matches);
        EXPECT_FALSE(error);
        EXPECT_EQ(matches, c.matches) << Utf8Of(c.mask).c_str() << " vs " << Utf8Of(c.name).c_str();
    }
    bool matches = true;
    SetupError error = MatchesMask(WString(u"x"), WString(u"[表"), matches);
    EXPECT_EQ(Utf8Of(error.Message()), "'[\xE8\xA1\xA8' is an invalid mask at (3)");
}

TEST(MaskLimits, LongNameAgainstManyStarsStaysFast)
{
    // A pathological pair for naive backtracking finishes at once.
    std::string name(20000, 'a');
    std::string mask;
    for (int i = 0; i < 29; ++i)
        mask += "*a";
    mask += "*b";
    EXPECT_FALSE(Matches(name, mask));
    EXPECT_TRUE(Matches(name + "b", mask));
}

} // namespace
