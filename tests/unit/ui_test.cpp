#include "ui/Estimate.h"
#include "ui/LicenseText.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(LicenseTitle("Demo"), "Demo License");
    EXPECT_EQ(LicenseTitle("Demo").size(), 12u);
    String title = LicenseTitle(std::string(250, 'n'));
    EXPECT_EQ(title.size(), 255u);
    EXPECT_EQ(title, std::string(250, 'n') + " Lice");
    EXPECT_EQ(LicenseTitle(""), " License");
}

TEST(LicenseText, LineBreaksBecomeCrLf)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"one\ntwo\nthree", "one\r\ntwo\r\nthree"},
        {"one\r\ntwo\r\n", "one\r\ntwo\r\n"},
        {"one\rtwo", "one\r\ntwo"},
        {"a\n\nb", "a\r\n\r\nb"},
        {"a\r\rb", "a\r\n\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"}, // LF then CR: two breaks
        {"\n", "\r\n"},
        {"", ""},
        {"no break", "no break"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithCrLfBreaks(c.in), c.out) << c.in;
    // Bytes of the upper half of the code page pass unchanged.
    EXPECT_EQ(WithCrLfBreaks("\xE4\xF6\n\xFC"), "\xE4\xF6\r\n\xFC");
}

TEST(LicenseText, LineAdded)
{
    const std::string line = "The license file \"C:\\x.txt\" is corrupted.";
    EXPECT_EQ(WithLineAdded("", line), line + "\r\n");
    EXPECT_EQ(WithLineAdded("terms\r\n", line), "terms\r\n" + line + "\r\n");
    EXPECT_EQ(WithLineAdded("terms", line), "terms\r\n" + line);
    EXPECT_EQ(WithLineAdded("a\r\nb", line), "a\r\nb\r\n" + line);
}
