#include "loader/Checks.h"
#include "services/Text.h"

#include <gtest/gtest.h>

TEST(Format, SubstitutesInOrder)
{
    EXPECT_EQ(Format("%s() Failed : code %d [%s]", {"FDICopy", 4, "Cabinet file is corrupt"}),
              "FDICopy() Failed : code 4 [Cabinet file is corrupt]");
    EXPECT_EQ(Format("%d %d %d", {0, -12, 2147483647}), "0 -12 2147483647");
    EXPECT_EQ(Format("%d", {static_cast<long long>(-2147483647 - 1)}), "-2147483648");
    EXPECT_EQ(Format("100%% %s", {std::string("done")}), "100% done");
    EXPECT_EQ(Format("[%s][%s]", {"only"}), "[only][]");
    EXPECT_EQ(Format("%x %", {}), "%x %");
}

TEST(Text, CaseAndComponents)
{
    EXPECT_EQ(UpperAscii("setup.exe \xE9"), "SETUP.EXE \xE9");
    EXPECT_EQ(LowerAscii("C:\\Program Files\\A.TXT"), "c:\\program files\\a.txt");
    EXPECT_EQ(LastComponent("a\\b/c:d.txt"), "d.txt");
    EXPECT_EQ(LastComponent("..\\win.ini"), "win.ini");
    EXPECT_EQ(LastComponent("plain"), "plain");
    EXPECT_EQ(FileNamePart("C:\\dir/x\\setup.exe"), "setup.exe");
    EXPECT_EQ(FileNamePart("a/b"), "a/b");
    EXPECT_EQ(ShortStr(std::string(300, 'x')).size(), 255u);
    EXPECT_EQ(WithBackslash("C:\\x"), "C:\\x\\");
    EXPECT_EQ(WithBackslash("C:\\x\\"), "C:\\x\\");
    EXPECT_EQ(WithBackslash(""), "");
}

namespace {
// Shift-JIS style: 0x81..0x9F and 0xE0..0xFC lead a two-byte character.
bool SjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
} // namespace

TEST(Text, FolderOf)
{
    struct Case {
        const char* path;
        const char* folder;
    };
    const Case cases[] = {
        {"C:\\Program Files\\App\\setup.exe", "C:\\Program Files\\App"},
        {"C:\\setup.exe", "C:\\"},
        {"C:setup.exe", "C:"},
        {"setup.exe", ""},
        {"\\\\server\\share\\x", "\\\\server\\share"},
        {"\\\\x", "\\\\"},
        {"C:\\dir\\", "C:\\dir"},
        {"\\x", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderOfPath(c.path), c.folder) << c.path;

    // 0x95 0x5C is one double-byte character whose second byte looks like "\".
    std::string dbcs = "C:\\\x95\x5C\\file";
    EXPECT_EQ(FolderOfPath(dbcs, SjisLead), "C:\\\x95\x5C");
    std::string dbcsEnd = "C:\\dir\\\x95\x5C";
    EXPECT_EQ(FolderOfPath(dbcsEnd, SjisLead), "C:\\dir");
    // Without the lead-byte test the trail byte would count as a separator.
    EXPECT_EQ(FolderOfPath(dbcsEnd), "C:\\dir\\\x95");
}

TEST(Switches, ReadCommandLine)
{
    // Switches, then the relaunch: argument 1 exactly, with argument 2. The
    // log's switch ignores case, its path keeps it; the first one counts.
    struct Case {
        std::vector<std::string> args;
        bool noConfirmation, noLicense, silent, relaunched;
        const char* started;
        bool logged = false;
        const char* logPath = "";
    };
    const Case cases[] = {
        {{"setup.exe", "/sp-", "/Silent", "/la-"}, true, true, true, false, "/Silent"},
        {{"/SP-", "/SP-x", "/SILENT2"}, false, false, false, false, "/SILENT2"}, // argument 0 is the program
        {{"x.exe", "/SECSUN", "C:\\u.exe", "/silent"}, false, false, true, true, "C:\\u.exe"},
        {{"x.exe", "/secsun", "C:\\u.exe"}, false, false, false, false, "C:\\u.exe"},
        {{"x.exe", "/SP-", "/SECSUN"}, true, false, false, false, "/SECSUN"},
        {{"x.exe", "/SP-", "/log=C:\\A b\\s.log", "/LOG=D:\\x.log"}, true, false, false, false, "/log=C:\\A b\\s.log",
         true, "C:\\A b\\s.log"},
        {{"x.exe", "/SECSUN", "C:\\u.exe", "/Log=\"C:\\q r\\s.log\""}, false, false, false, true, "C:\\u.exe", true,
         "C:\\q r\\s.log"},
        {{"x.exe", "/LOG=", "/SILENT"}, false, false, true, false, "/SILENT", true, ""},
        {{"/LOG=a", "/LOG", "/LOGS=b", "-LOG=c"}, false, false, false, false, "/LOGS=b"},
    };
    for (const Case& c : cases) {
        Invocation call = ReadCommandLine("C:\\own.exe", c.args);
        const std::string what = c.args.size() > 1 ? c.args[1] : c.args[0];
        EXPECT_EQ(call.OwnPath, "C:\\own.exe");
        EXPECT_EQ(call.NoConfirmation, c.noConfirmation) << what;
        EXPECT_EQ(call.NoLicense, c.noLicense) << what;
        EXPECT_EQ(call.Silent, c.silent) << what;
        EXPECT_EQ(call.Relaunched, c.relaunched) << what;
        EXPECT_EQ(call.StartedUninstaller, c.started) << what;
        EXPECT_EQ(call.Logged, c.logged) << what;
        EXPECT_EQ(call.LogPath, c.logPath) << what;
    }
}

TEST(Switches, SplitCommandLine)
{
    // As Windows programs split their command line.
    struct Case {
        const char* line;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"setup.exe", {"setup.exe"}},
        {"\"C:\\Program Files\\a b.exe\" /SP-  \t/SILENT ", {"C:\\Program Files\\a b.exe", "/SP-", "/SILENT"}},
        {"C:\\x\\\"y.exe /LA-", {"C:\\x\\\"y.exe", "/LA-"}}, // argument 0 knows no escapes
        {"x /SECSUN \"C:\\Program Files\\Kit\\Uninstall Kit.exe\"",
         {"x", "/SECSUN", "C:\\Program Files\\Kit\\Uninstall Kit.exe"}},
        {"x a\"b c\"d e", {"x", "ab cd", "e"}},             // quotes open and close inside a word
        {"x \"\" \"a\"\"b\"", {"x", "", "a\"b"}},            // an empty one; "" inside quotes is a quote
        {"x a\\\\b \"c:\\dir\\\\\" d", {"x", "a\\\\b", "c:\\dir\\", "d"}}, // 2n before a quote: n
        {"x a\\\"b \\\\\\\"c", {"x", "a\"b", "\\\"c"}},            // 2n+1: n and a quote
        {"x \"open to the end", {"x", "open to the end"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

TEST(Switches, DamagedCopyText)
{
    EXPECT_EQ(DamagedCopyText("", "C:\\Downloads\\setup.exe"),
              "This copy of SETUP.EXE is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
    EXPECT_EQ(DamagedCopyText("Uninstall", "C:\\x\\setup.exe"),
              "This copy of Uninstall is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
}
