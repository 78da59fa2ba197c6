#include "services/TempName.h"
#include "services/Text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/WideText.h"

TEST(TempName, CounterTextDigits)
{
    struct Case {
        uint32_t counter;
        const char16_t* text;
    };
    const Case cases[] = {
        {0, u"00000"},
        {0x1FFFFFF, u"VVVVV"},
        {0x2000000, u"00000"}, // bits above the 25th are ignored
        {0x123457, u"14D2N"},
        {0x123458, u"14D2O"},
        {31, u"0000V"},
        {32, u"00010"},
        {0xFFFFFFFF, u"VVVVV"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CounterText(c.counter), c.text) << std::hex << c.counter;
}

namespace {
// The start the old fixed search used; any value serves.
constexpr uint32_t kStart = 0x123456;
} // namespace

// The name the search ends at; an error fails the test.
template <class Create>
WString Search(const WString& folder, const WString& extension, uint32_t start, Create create)
{
    WString name;
    SetupError error = SearchTempName(folder, extension, start, create, name);
    EXPECT_FALSE(error) << error.Message();
    return name;
}

TEST(TempName, SearchStartsAfterTheStartValueAndAddsOneBackslash)
{
    auto createFirst = [](const WString&) { return TempTry::Created; };
    EXPECT_EQ(Search(u"C:\\windows\\Temp", u".cab", kStart, createFirst), u"C:\\windows\\Temp\\_KT14D2N.cab");
    EXPECT_EQ(Search(u"C:\\windows\\Temp\\", u".exe", kStart, createFirst), u"C:\\windows\\Temp\\_KT14D2N.exe");
    EXPECT_EQ(Search(u"", u".exe", kStart, createFirst), u"_KT14D2N.exe");
    // Only the low 25 bits of the start count.
    EXPECT_EQ(Search(u"x", u".exe", 0xFE000000u | kStart, createFirst), u"x\\_KT14D2N.exe");

    // Taken names are passed; any other outcome ends the search there.
    for (TempTry end : {TempTry::Created, TempTry::Failed}) {
        int taken = 0;
        WString found = Search(u"x", u".exe", kStart, [&](const WString&) {
            return ++taken > 2 ? end : TempTry::Taken;
        });
        EXPECT_EQ(found, u"x\\_KT14D2P.exe");
    }
}

TEST(TempName, SearchWrapsAndGivesUpOnlyAfterEveryOtherName)
{
    uint64_t tried = 0;
    bool sawLast = false, sawZeroAfterLast = false, sawStart = false;
    WString previous;
    WString name;
    SetupError error = SearchTempName(
        u"D:\\full", u".cab", kStart,
        [&](const WString& candidate) {
            ++tried;
            if (previous == u"D:\\full\\_KTVVVVV.cab")
                sawZeroAfterLast = candidate == u"D:\\full\\_KT00000.cab";
            if (candidate == u"D:\\full\\_KTVVVVV.cab")
                sawLast = true;
            sawStart = sawStart || candidate == u"D:\\full\\_KT14D2M.cab";
            previous = candidate;
            return TempTry::Taken;
        },
        name);
    EXPECT_TRUE(error);
    EXPECT_EQ(error.Message(), u"Too many files in D:\\full\\");
    EXPECT_EQ(tried, (uint64_t{1} << 25) - 1);
    EXPECT_TRUE(sawLast);
    EXPECT_TRUE(sawZeroAfterLast);
    EXPECT_FALSE(sawStart); // the start value itself is never tried
    EXPECT_EQ(previous, u"D:\\full\\_KT14D2L.cab");
}

TEST(Text, ParentWithSeparator)
{
    struct Case {
        const char16_t* path;
        const char16_t* parent;
    };
    const Case cases[] = {
        {u"C:\\a\\b", u"C:\\a\\"}, {u"C:\\a", u"C:\\"}, {u"C:a", u"C:"}, {u"abc", u""},
        {u"", u""},                {u"\\\\srv\\share", u"\\\\srv\\"},
        // 表 is 0x95 0x5C in code page 932; decoded, it is no separator.
        {u"C:\\d\\表", u"C:\\d\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParentWithSeparator(c.path), c.parent) << WString(c.path);
}
