#include "ui/Estimate.h"
#include "ui/LicenseText.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/WideText.h"

namespace {

// A busy period that began on some day in 2026, in days like the window's clock.
constexpr double kStart = 46000.25;
double After(double seconds) { return kStart + seconds / kSecondsPerDay; }
double Seconds(double days) { return days * kSecondsPerDay; }

} // namespace

TEST(Estimate, TimeLeft)
{
    struct Case {
        const char* what;
        int position, minimum, maximum;
        double elapsed;         // seconds since the busy period began
        double expectedSeconds; // < 0: no estimate
    } cases[] = {
        {"half done after 20 s", 5, 0, 10, 20, 20},
        {"a quarter done after 10 s", 25, 0, 100, 10, 30},
        {"at the maximum", 10, 0, 10, 20, 0},
        {"at the minimum", 0, 0, 10, 60, -1},
        {"at a minimum above zero", 7, 7, 20, 60, -1},
        {"minimum above zero, half done", 10, 6, 14, 8, 8},
        {"exactly 5 seconds", 5, 0, 10, 5, -1},
        {"just after 5 seconds", 5, 0, 10, 5.001, 5.001},
        {"within the first seconds", 9, 0, 10, 1, -1},
        {"ranges past 65535", 1000000, 0, 4000000, 30, 90},
        {"the clock set back", 5, 0, 10, -30, -1},
    };
    for (const Case& c : cases) {
        std::optional<double> left = EstimateTimeLeft(c.position, c.minimum, c.maximum, kStart, After(c.elapsed));
        if (c.expectedSeconds < 0) {
            EXPECT_FALSE(left.has_value()) << c.what;
        } else {
            ASSERT_TRUE(left.has_value()) << c.what;
            EXPECT_NEAR(Seconds(*left), c.expectedSeconds, 0.001) << c.what;
        }
    }
}

TEST(Estimate, ClockTimeDropsDaysAndFractions)
{
    struct Case {
        double seconds;
        int hour, minute, second;
    } cases[] = {
        {20, 0, 0, 20},
        {0, 0, 0, 0},
        {59.999, 0, 0, 59},       // fraction dropped, not rounded up
        {3600 + 120 + 5.5, 1, 2, 5},
        {86400 + 61, 0, 1, 1},    // whole days dropped
        {3 * 86400 + 23 * 3600 + 59 * 60 + 59, 23, 59, 59},
        {400 * 86400 + 3600 + 120 + 3, 1, 2, 3},  // a year and more
        {-(3600 + 120 + 3), 1, 2, 3},             // a duration the other way
    };
    for (const Case& c : cases) {
        ClockTime t = ClockTimeOf(c.seconds / kSecondsPerDay);
        EXPECT_EQ(t.Hour, c.hour) << c.seconds;
        EXPECT_EQ(t.Minute, c.minute) << c.seconds;
        EXPECT_EQ(t.Second, c.second) << c.seconds;
    }
    // 20 s measured as a difference of two dates comes back as 20, not 19.
    std::optional<double> left = EstimateTimeLeft(5, 0, 10, kStart, After(20));
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(ClockTimeOf(*left).Second, 20);
}

TEST(LicenseText, Title)
{
    EXPECT_EQ(LicenseTitle(u"Demo"), u"Demo License");
    EXPECT_EQ(LicenseTitle(u"Demo").size(), 12u);
    WString title = LicenseTitle(WString(std::u16string(250, u'表')));
    EXPECT_EQ(title.size(), 255u);
    EXPECT_EQ(title, WString(std::u16string(250, u'表') + u" Lice"));
    EXPECT_EQ(LicenseTitle(u""), u" License");
    EXPECT_EQ(LicenseTitle(u"Иван 表計算 café"), u"Иван 表計算 café License");
}

namespace {

// What the decoder was last asked for; UTF-8 is decoded, any other code
// page reads each byte as the character of that number.
uint16_t gAskedCodePage = 0;
std::size_t gAskedSize = 0;
WString FakeDecoder(const char* bytes, std::size_t size, uint16_t codePage)
{
    gAskedCodePage = codePage;
    gAskedSize = size;
    if (codePage == 65001)
        return FromUtf8(bytes, size);
    WString text;
    for (std::size_t i = 0; i < size; ++i)
        text += static_cast<WideChar>(static_cast<unsigned char>(bytes[i]));
    return text;
}

} // namespace

TEST(LicenseText, DecodedByItsBomOrTheCodePage)
{
    struct Case {
        const char* what;
        std::string bytes;
        uint16_t codePage;
        const char16_t* text;
        int asked; // code page the decoder got, -1: not asked
    } cases[] = {
        {"BOM UTF-8", "\xEF\xBB\xBF\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xE8\xA1\xA8 caf\xC3\xA9", 1251,
         u"Иван 表 café", 65001},
        {"BOM UTF-8 alone", "\xEF\xBB\xBF", 0, u"", 65001},
        {"BOM UTF-16LE", std::string("\xFF\xFE\x18\x04\x32\x04 \0\x68\x88\xE9\0", 12), 1251, u"Ив 表é", -1},
        {"BOM UTF-16LE, a surrogate pair kept", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), 0, u"\U0001F600", -1},
        {"BOM UTF-16LE alone", "\xFF\xFE", 0, u"", -1},
        {"BOM UTF-16LE, odd last byte", std::string("\xFF\xFEo\0k", 5), 0, u"o\uFFFD", -1},
        {"no BOM: the package's code page", "caf\xE9", 1252, u"caf\u00E9", 1252},
        {"no BOM, no record: the system's", "caf\xE9", 0, u"caf\u00E9", 0},
        {"half a UTF-8 BOM is text", "\xEF\xBBx", 1252, u"\u00EF\u00BBx", 1252},
        {"UTF-16BE BOM is text", "\xFE\xFFx", 1252, u"\u00FE\u00FFx", 1252},
        {"empty", "", 1251, u"", 1251},
    };
    for (const Case& c : cases) {
        gAskedCodePage = 1;
        String bytes(c.bytes);
        EXPECT_EQ(DecodeLicense(bytes, FakeDecoder, c.codePage), c.text) << c.what;
        EXPECT_EQ(gAskedCodePage, c.asked < 0 ? 1 : c.asked) << c.what;
    }
    // The BOM itself is never handed on.
    DecodeLicense(String("\xEF\xBB\xBF" "ab"), FakeDecoder, 0);
    EXPECT_EQ(gAskedSize, 2u);
}

TEST(LicenseText, LineBreaksBecomeCrLf)
{
    struct Case {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"one\ntwo\nthree", u"one\r\ntwo\r\nthree"},
        {u"one\r\ntwo\r\n", u"one\r\ntwo\r\n"},
        {u"one\rtwo", u"one\r\ntwo"},
        {u"a\n\nb", u"a\r\n\r\nb"},
        {u"a\r\rb", u"a\r\n\r\nb"},
        {u"a\n\rb", u"a\r\n\r\nb"}, // LF then CR: two breaks
        {u"\n", u"\r\n"},
        {u"", u""},
        {u"no break", u"no break"},
        // Characters beyond ASCII pass unchanged, a code unit that ends in
        // 0x0A or 0x0D included.
        {u"Иван\n表計算\ncafé", u"Иван\r\n表計算\r\ncafé"},
        {u"\u010A\u020D", u"\u010A\u020D"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithCrLfBreaks(c.in), c.out) << Utf8Of(c.in);
}

TEST(LicenseText, LineAdded)
{
    const WString line = u"The license file \"C:\\表.txt\" is corrupted.";
    EXPECT_EQ(WithLineAdded(u"", line), line + u"\r\n");
    EXPECT_EQ(WithLineAdded(u"terms\r\n", line), u"terms\r\n" + line + u"\r\n");
    EXPECT_EQ(WithLineAdded(u"terms", line), u"terms\r\n" + line);
    EXPECT_EQ(WithLineAdded(u"a\r\nb", line), u"a\r\nb\r\n" + line);
}
