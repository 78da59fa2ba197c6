#include "loader/Checks.h"
#include "services/Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "services/SetupError.h"

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

TEST(String, HoldsExactlyItsBytes)
{
    // Each case builds a text; its bytes, zeros included, are what counts.
    struct Case {
        const char* what;
        std::function<String()> make;
        std::string bytes;
    };
    const std::string many(1000, 'x');
    const Case cases[] = {
        {"default", [] { return String(); }, ""},
        {"null", [] { return String(static_cast<const char*>(nullptr)); }, ""},
        {"inner zero", [] { return String("a\0b", 3); }, std::string("a\0b", 3)},
        {"grows by appends",
         [] {
             String s;
             for (int i = 0; i < 1000; ++i)
                 s += 'x';
             return s;
         },
         many},
        {"appends itself, growing",
         [] {
             String s("abc");
             s += s;
             s += s.c_str();
             return s;
         },
         "abcabcabcabc"},
        {"appends itself in place",
         [] {
             String s("abcdefgh");
             s.clear();
             s += "0123456789";
             s.Append(s.c_str() + 2, 3);
             return s;
         },
         "0123456789234"},
        {"assigned a part of itself",
         [] {
             String s("C:\\dir\\file");
             s = s.c_str() + 3;
             return s;
         },
         "dir\\file"},
        {"copy stays apart",
         [] {
             String a("one");
             String b = a;
             a += "two";
             return b;
         },
         "one"},
        {"moved from is empty",
         [] {
             String a("one");
             String b = static_cast<String&&>(a);
             return a + "|" + b;
         },
         "|one"},
        {"concatenation", [] { return "<" + String("a") + 'b' + String("c") + ">"; }, "<abc>"},
        {"pop_back and empty pop_back",
         [] {
             String a("ab"), b;
             a.pop_back();
             b.pop_back();
             return a + b;
         },
         "a"},
        {"resized and written", [] { String s; std::memcpy(s.Resize(3), "xyz", 3); return s; }, "xyz"},
        {"empty, written in place",
         [] {
             String s;
             const char* text = s.data(); // a writable "", never null
             EXPECT_TRUE(text && *text == '\0');
             return s;
         },
         ""},
        {"substr clamps", [] { return String("abcdef").substr(2, 100) + String("ab").substr(5); }, "cdef"},
        {"from a std::string", [] { return String(std::string("a\0c", 3)); }, std::string("a\0c", 3)},
    };
    for (const Case& c : cases) {
        String s = c.make();
        EXPECT_EQ(std::string(s.c_str(), s.size()), c.bytes) << c.what;
        EXPECT_EQ(s.c_str()[s.size()], '\0') << c.what;
    }
}

TEST(String, SearchesAndCompares)
{
    const String path("C:\\a/b:c");
    EXPECT_EQ(path.find_last_of("\\"), 2u);
    EXPECT_EQ(path.find_last_of(":/"), 6u);
    EXPECT_EQ(path.find_last_of("?"), String::npos);
    // The terminating zero of the set is no member of it.
    EXPECT_EQ(String("a\0b", 3).find_last_of("\\"), String::npos);
    EXPECT_EQ(path.find('a'), 3u);
    EXPECT_EQ(String().find('a'), String::npos);
    EXPECT_TRUE(path.StartsWith("C:\\"));
    EXPECT_FALSE(String("C").StartsWith("C:"));
    EXPECT_TRUE(String() == "");
    EXPECT_TRUE(String("a\0b", 3) != "a");
    EXPECT_TRUE(String("a\0b", 3) != String("a\0c", 3));
    EXPECT_TRUE(String("ab") == String("ab"));
    EXPECT_EQ(path.back(), 'c');
}

TEST(String, SetupErrorIsItsMessageAndFlag)
{
    EXPECT_FALSE(SetupError());
    // An empty message is an error all the same.
    SetupError empty("");
    EXPECT_TRUE(empty);
    SetupError byUser(String("Operation aborted by user"), true);
    SetupError moved = static_cast<SetupError&&>(byUser);
    EXPECT_TRUE(moved);
    EXPECT_TRUE(moved.ByUser());
    EXPECT_EQ(moved.Message(), "Operation aborted by user");
    EXPECT_FALSE(SetupError("x").ByUser());
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

namespace {
Arguments Packed(const std::vector<String>& list)
{
    Arguments args;
    for (const String& a : list)
        args.Add(a);
    return args;
}

std::vector<String> Unpacked(const Arguments& args)
{
    std::vector<String> list;
    for (std::size_t i = 0; i < args.Count(); ++i)
        list.push_back(args[i]);
    // Past the last there is nothing, not a stray argument.
    EXPECT_STREQ(args[args.Count()], "");
    return list;
}
} // namespace

TEST(Switches, ReadCommandLine)
{
    // Switches, then the relaunch: argument 1 exactly, with argument 2. The
    // log's switch ignores case, its path keeps it; the first one counts.
    struct Case {
        std::vector<String> args;
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
        Invocation call = ReadCommandLine("C:\\own.exe", Packed(c.args));
        const String what = c.args.size() > 1 ? c.args[1] : c.args[0];
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
        std::vector<String> args;
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
        EXPECT_EQ(Unpacked(SplitCommandLine(c.line)), c.args) << c.line;
}

TEST(Switches, DamagedCopyText)
{
    EXPECT_EQ(DamagedCopyText("", "C:\\Downloads\\setup.exe"),
              "This copy of SETUP.EXE is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
    EXPECT_EQ(DamagedCopyText("Uninstall", "C:\\x\\setup.exe"),
              "This copy of Uninstall is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
}
