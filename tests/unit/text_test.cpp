#include "loader/CommandLine.h"
#include "services/Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "services/SetupError.h"

#include "tests/unit/WideText.h"

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
    SetupError byUser(WString(u"Operation aborted by user"), true);
    SetupError moved = static_cast<SetupError&&>(byUser);
    EXPECT_TRUE(moved);
    EXPECT_TRUE(moved.ByUser());
    EXPECT_EQ(moved.Message(), u"Operation aborted by user");
    EXPECT_FALSE(SetupError("x").ByUser());
}

TEST(Text, CaseAndComponents)
{
    EXPECT_EQ(UpperAscii(String("setup.exe \xE9")), "SETUP.EXE \xE9");
    EXPECT_EQ(UpperAscii(WString(u"setup.exe é表")), u"SETUP.EXE é表");
    EXPECT_EQ(LowerAscii(String("C:\\Program Files\\A.TXT")), "c:\\program files\\a.txt");
    EXPECT_EQ(LastComponent(String("a\\b/c:d.txt")), "d.txt");
    EXPECT_EQ(LastComponent(String("..\\win.ini")), "win.ini");
    EXPECT_EQ(LastComponent(String("plain")), "plain");
    // Decoded names: a character whose code page form ends in 0x5C is no
    // separator (表 is 0x95 0x5C in 932, 誠 0x90 0x5C in 936).
    EXPECT_EQ(LastComponent(WString(u"予定\\表計算.txt")), u"表計算.txt");
    EXPECT_EQ(LastComponent(WString(u"誠信.txt")), u"誠信.txt");
    EXPECT_EQ(FileNamePart(String("C:\\dir/x\\setup.exe")), "setup.exe");
    EXPECT_EQ(FileNamePart(String("a/b")), "a/b");
    EXPECT_EQ(FileNamePart(WString(u"C:\\dl\\Иван\\ｓetup.exe")), u"ｓetup.exe");
    EXPECT_EQ(ShortStr(String(std::string(300, 'x'))).size(), 255u);
    EXPECT_EQ(WithBackslash(String("C:\\x")), "C:\\x\\");
    EXPECT_EQ(WithBackslash(WString(u"C:\\x\\")), u"C:\\x\\");
    EXPECT_EQ(WithBackslash(String("")), "");
}

TEST(Text, FolderOf)
{
    struct Case {
        const char16_t* path;
        const char16_t* folder;
    };
    const Case cases[] = {
        {u"C:\\Program Files\\App\\setup.exe", u"C:\\Program Files\\App"},
        {u"C:\\setup.exe", u"C:\\"},
        {u"C:setup.exe", u"C:"},
        {u"setup.exe", u""},
        {u"\\\\server\\share\\x", u"\\\\server\\share"},
        {u"\\\\x", u"\\\\"},
        {u"C:\\dir\\", u"C:\\dir"},
        {u"\\x", u""},
        {u"", u""},
        // 表 is 0x95 0x5C in code page 932: decoded, it is one character.
        {u"C:\\表\\file", u"C:\\表"},
        {u"C:\\dir\\表", u"C:\\dir"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderOfPath(c.path), c.folder) << WString(c.path);
}

namespace {
Arguments Packed(const std::vector<WString>& list)
{
    Arguments args;
    for (const WString& a : list)
        args.Add(a);
    return args;
}

std::vector<WString> Unpacked(const Arguments& args)
{
    std::vector<WString> list;
    for (std::size_t i = 0; i < args.Count(); ++i)
        list.push_back(args[i]);
    // Past the last there is nothing, not a stray argument.
    EXPECT_EQ(WString(args[args.Count()]), u"");
    return list;
}
} // namespace

TEST(Switches, ReadCommandLine)
{
    // Switches, then the relaunch: argument 1 exactly, with argument 2. The
    // log's switch ignores case, its path keeps it; the first one counts.
    struct Case {
        std::vector<WString> args;
        bool noConfirmation, noLicense, silent, relaunched;
        const char16_t* started;
        bool logged = false;
        const char16_t* logPath = u"";
    };
    const Case cases[] = {
        {{u"setup.exe", u"/sp-", u"/Silent", u"/la-"}, true, true, true, false, u"/Silent"},
        {{u"/SP-", u"/SP-x", u"/SILENT2"}, false, false, false, false, u"/SILENT2"}, // argument 0 is the program
        {{u"x.exe", u"/SECSUN", u"C:\\u.exe", u"/silent"}, false, false, true, true, u"C:\\u.exe"},
        {{u"x.exe", u"/secsun", u"C:\\u.exe"}, false, false, false, false, u"C:\\u.exe"},
        {{u"x.exe", u"/SP-", u"/SECSUN"}, true, false, false, false, u"/SECSUN"},
        {{u"x.exe", u"/SP-", u"/log=C:\\A b\\s.log", u"/LOG=D:\\x.log"}, true, false, false, false, u"/log=C:\\A b\\s.log",
         true, u"C:\\A b\\s.log"},
        {{u"x.exe", u"/SECSUN", u"C:\\u.exe", u"/Log=\"C:\\q r\\s.log\""}, false, false, false, true, u"C:\\u.exe", true,
         u"C:\\q r\\s.log"},
        {{u"x.exe", u"/LOG=", u"/SILENT"}, false, false, true, false, u"/SILENT", true, u""},
        {{u"/LOG=a", u"/LOG", u"/LOGS=b", u"-LOG=c"}, false, false, false, false, u"/LOGS=b"},
    };
    for (const Case& c : cases) {
        Invocation call = ReadCommandLine(Packed(c.args));
        const WString what = c.args.size() > 1 ? c.args[1] : c.args[0];
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
        const char16_t* line;
        std::vector<WString> args;
    };
    const Case cases[] = {
        {u"setup.exe", {u"setup.exe"}},
        {u"\"C:\\Program Files\\a b.exe\" /SP-  \t/SILENT ", {u"C:\\Program Files\\a b.exe", u"/SP-", u"/SILENT"}},
        {u"C:\\x\\\"y.exe /LA-", {u"C:\\x\\\"y.exe", u"/LA-"}}, // argument 0 knows no escapes
        {u"x /SECSUN \"C:\\Program Files\\Kit\\Uninstall Kit.exe\"",
         {u"x", u"/SECSUN", u"C:\\Program Files\\Kit\\Uninstall Kit.exe"}},
        {u"x a\"b c\"d e", {u"x", u"ab cd", u"e"}},             // quotes open and close inside a word
        {u"x \"\" \"a\"\"b\"", {u"x", u"", u"a\"b"}},            // an empty one; u"" inside quotes is a quote
        {u"x a\\\\b \"c:\\dir\\\\\" d", {u"x", u"a\\\\b", u"c:\\dir\\", u"d"}}, // 2n before a quote: n
        {u"x a\\\"b \\\\\\\"c", {u"x", u"a\"b", u"\\\"c"}},            // 2n+1: n and a quote
        {u"x \"open to the end", {u"x", u"open to the end"}},
        // 表 is 0x95 0x5C in code page 932: no backslash before the quote.
        {u"x /LOG=\"C:\\logs\\表\" /SP- /SILENT", {u"x", u"/LOG=C:\\logs\\表", u"/SP-", u"/SILENT"}},
        {u"\"C:\\dl\\setup＂ ／LOG=C：＼x.bat ＂.exe\" /SP-", {u"C:\\dl\\setup＂ ／LOG=C：＼x.bat ＂.exe", u"/SP-"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Unpacked(SplitCommandLine(c.line)), c.args) << WString(c.line);
}

TEST(Switches, DamagedCopyText)
{
    EXPECT_EQ(DamagedCopyText(nullptr, u"C:\\Downloads\\ｓetup.exe"),
              u"This copy of ｓETUP.EXE is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
    EXPECT_EQ(DamagedCopyText(nullptr, u"C:\\Downloads\\setup.exe"),
              u"This copy of SETUP.EXE is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
    EXPECT_EQ(DamagedCopyText("Uninstall", u"C:\\x\\setup.exe"),
              u"This copy of Uninstall is corrupted!\r\n\r\nPlease download a new copy of it and try again.");
}
