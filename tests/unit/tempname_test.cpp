#include "services/TempName.h"
#include "services/Text.h"

#include <gtest/gtest.h>

#include <string>

TEST(TempName, CounterTextDigits)
{
    struct Case {
        uint32_t counter;
        const char* text;
    };
    const Case cases[] = {
        {0, "00000"},
        {0x1FFFFFF, "VVVVV"},
        {0x2000000, "00000"}, // bits above the 25th are ignored
        {0x123457, "14D2N"},
        {0x123458, "14D2O"},
        {31, "0000V"},
        {32, "00010"},
        {0xFFFFFFFF, "VVVVV"},
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
String Search(const String& folder, const String& extension, uint32_t start, Create create)
{
    String name;
    SetupError error = SearchTempName(folder, extension, start, create, name);
    EXPECT_FALSE(error) << error.Message();
    return name;
}

TEST(TempName, SearchStartsAfterTheStartValueAndAddsOneBackslash)
{
    auto createFirst = [](const String&) { return TempTry::Created; };
    EXPECT_EQ(Search("C:\\windows\\Temp", ".cab", kStart, createFirst), "C:\\windows\\Temp\\_KT14D2N.cab");
    EXPECT_EQ(Search("C:\\windows\\Temp\\", ".exe", kStart, createFirst), "C:\\windows\\Temp\\_KT14D2N.exe");
    EXPECT_EQ(Search("", ".exe", kStart, createFirst), "_KT14D2N.exe");
    // Only the low 25 bits of the start count.
    EXPECT_EQ(Search("x", ".exe", 0xFE000000u | kStart, createFirst), "x\\_KT14D2N.exe");

    // Taken names are passed; any other outcome ends the search there.
    for (TempTry end : {TempTry::Created, TempTry::Failed}) {
        int taken = 0;
        String found = Search("x", ".exe", kStart, [&](const String&) {
            return ++taken > 2 ? end : TempTry::Taken;
        });
        EXPECT_EQ(found, "x\\_KT14D2P.exe");
    }
}

TEST(TempName, SearchWrapsAndGivesUpOnlyAfterEveryOtherName)
{
    uint64_t tried = 0;
    bool sawLast = false, sawZeroAfterLast = false, sawStart = false;
    String previous;
    String name;
    SetupError error = SearchTempName(
        "D:\\full", ".cab", kStart,
        [&](const String& candidate) {
            ++tried;
            if (previous == "D:\\full\\_KTVVVVV.cab")
                sawZeroAfterLast = candidate == "D:\\full\\_KT00000.cab";
            if (candidate == "D:\\full\\_KTVVVVV.cab")
                sawLast = true;
            sawStart = sawStart || candidate == "D:\\full\\_KT14D2M.cab";
            previous = candidate;
            return TempTry::Taken;
        },
        name);
    EXPECT_TRUE(error);
    EXPECT_EQ(error.Message(), "Too many files in D:\\full\\");
    EXPECT_EQ(tried, (uint64_t{1} << 25) - 1);
    EXPECT_TRUE(sawLast);
    EXPECT_TRUE(sawZeroAfterLast);
    EXPECT_FALSE(sawStart); // the start value itself is never tried
    EXPECT_EQ(previous, "D:\\full\\_KT14D2L.cab");
}

namespace {
bool SjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
} // namespace

TEST(Text, ParentWithSeparator)
{
    struct Case {
        const char* path;
        const char* parent;
    };
    const Case cases[] = {
        {"C:\\a\\b", "C:\\a\\"}, {"C:\\a", "C:\\"}, {"C:a", "C:"}, {"abc", ""},
        {"", ""},                {"\\\\srv\\share", "\\\\srv\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParentWithSeparator(c.path), c.parent) << c.path;
    // 0x95 0x5C is one double-byte character; its trail byte is no separator.
    EXPECT_EQ(ParentWithSeparator("C:\\d\\\x95\x5C", SjisLead), "C:\\d\\");
    EXPECT_EQ(ParentWithSeparator("C:\\d\\\x95\x5C"), "C:\\d\\\x95\x5C");
}
