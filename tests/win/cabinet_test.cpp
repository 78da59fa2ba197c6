// The cabinet extractor against Wine's cabinet.dll, on cabinets written by
// the test cabinet writer. Cases without message boxes; the prompts are
// answered by the robot in the end-to-end tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/FileHelpers.h"
#include "TestCabinet.h"
#include "cabinet/cabapi.h"
#include "cabinet/suncab.h"
#include "loader/CabNotify.h"
#include "services/SetupError.h"
#include "services/Win32.h"

namespace {

const char* const kRoot = "C:\\cabtest";

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(h, &entry));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

// Nobody else holds the file open: an exclusive open succeeds.
bool NotHeld(const std::string& path)
{
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return f.Valid();
}

std::string Bytes(size_t count, unsigned seed)
{
    std::string data(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>(seed >> 16);
    }
    return data;
}

TestEntry Entry(const std::string& name, const std::string& data, uint16_t attribs = 0x20)
{
    TestEntry e;
    e.name = name;
    e.data = data;
    e.attribs = attribs;
    return e;
}

// Records the events of a run in the order they fire.
struct Recorder {
    std::vector<std::string> events;
    std::vector<SYSTEMTIME> times;
    uint8_t action = 0;
    std::string actionFor; // only this target gets `action`; empty: all
    std::string raise;     // OnCopyFile gives this error when set
    bool abortPartial = false;

    void Start(TUnCab&) { events.push_back("start"); }
    void Finish(TUnCab&) { events.push_back("finish"); }
    SetupError Copy(TUnCab&, const WString& file, int32_t size, const SYSTEMTIME& when, uint8_t& act)
    {
        events.push_back("copy " + U(file) + " " + std::to_string(size));
        times.push_back(when);
        if (!raise.empty())
            return SetupError(W(raise));
        if (actionFor.empty() || actionFor == U(file))
            act = action;
        return SetupError();
    }
    void Partial(TUnCab&, const WString& cabinet, const WString& disk, const WString& file, bool& abort)
    {
        events.push_back(std::string("partial ") + U(cabinet) + "|" + U(disk) + "|" + U(file));
        abort = abortPartial;
    }

    void Attach(TUnCab& uncab)
    {
        uncab.OnStart = BindEvent<&Recorder::Start>(this);
        uncab.OnFinish = BindEvent<&Recorder::Finish>(this);
        uncab.OnCopyFile = BindEvent<&Recorder::Copy>(this);
        uncab.OnPartialFile = BindEvent<&Recorder::Partial>(this);
    }
};

// The message of the error Execute gives; "" when it gives none.
std::string RunFor(TUnCab& uncab)
{
    SetupError error = uncab.Execute();
    EXPECT_EQ(static_cast<bool>(error), !error.Message().empty());
    return U(error.Message());
}

class Cabinet : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(kRoot, nullptr);
        dir = std::string(kRoot) + "\\" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveTree(dir);
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
        dest = dir + "\\out";
    }

    std::string PutCabinet(const std::string& name, const std::string& bytes)
    {
        std::string path = dir + "\\" + name;
        WriteAll(path, bytes);
        return path;
    }

    // A fresh extractor with the installation's options, no prompts.
    void Configure(TUnCab& uncab, const std::string& cabinet, const std::string& mask = "*.*", uint8_t options = 0x09)
    {
        uncab.SetCabinetFile(W(cabinet));
        uncab.SetDestination(W(dest));
        uncab.Mask = W(mask);
        uncab.Options = options;
        uncab.RunAfterExtract = false;
    }

    std::string dir, dest;
};

// --- properties -------------------------------------------------------------

TEST(UnCabProperties, Defaults)
{
    TUnCab uncab;
    EXPECT_EQ(uncab.Options, 0x5F);
    EXPECT_TRUE(uncab.RunAfterExtract);
    EXPECT_EQ(uncab.OwnerWindow, nullptr);
    EXPECT_EQ(uncab.CabinetFile(), "");
    EXPECT_EQ(uncab.Destination(), "");
    EXPECT_EQ(uncab.Mask, "");
    EXPECT_EQ(uncab.RunList(), "");
    EXPECT_EQ(uncab.ExtractedCount(), 0);
    EXPECT_FALSE(uncab.OnStart.Assigned() || uncab.OnFinish.Assigned() || uncab.OnCopyFile.Assigned() ||
                 uncab.OnPartialFile.Assigned());
    EXPECT_EQ(uncab.ErrorRecord().erfOper, 0);
    EXPECT_EQ(uncab.ErrorRecord().fError, 0);
}

TEST(UnCabProperties, CabinetFileAndDestinationAreNormalised)
{
    struct Case {
        const char* set;
        const char* cabinet;
        const char* destination;
    } cases[] = {
        {"D:\\Temp\\Setup", "d:\\temp\\setup.cab", "D:\\Temp\\Setup\\"},
        {"D:\\Temp\\Setup.CAB", "D:\\Temp\\Setup.CAB", "D:\\Temp\\Setup.CAB\\"},
        {"D:\\Temp\\Setup.", "D:\\Temp\\Setup.", "D:\\Temp\\Setup.\\"},
        {"D:\\My.Dir\\Setup", "d:\\my.dir\\setup.cab", "D:\\My.Dir\\Setup\\"},
        {"C:Setup", "c:setup.cab", "C:Setup\\"},
        {"D:\\Prog\\", "d:\\prog\\.cab", "D:\\Prog\\"},
        {"Name", "name.cab", "Name\\"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        TUnCab uncab;
        uncab.SetCabinetFile(W(c.set));
        uncab.SetDestination(W(c.set));
        EXPECT_EQ(uncab.CabinetFile(), c.cabinet) << c.set;
        EXPECT_EQ(uncab.Destination(), c.destination) << c.set;
    }
}

TEST(UnCabProperties, ErrorTexts)
{
    EXPECT_STREQ(ErrorText(0), "No error");
    EXPECT_STREQ(ErrorText(1), "Cabinet not found");
    EXPECT_STREQ(ErrorText(3), "Cabinet file has an unknown version number.");
    EXPECT_STREQ(ErrorText(4), "Cabinet file is corrupt");
    EXPECT_STREQ(ErrorText(10), "Cabinet returned on fdintNEXT_CABINET is incorrect");
    EXPECT_STREQ(ErrorText(11), "Client requested abort");
    EXPECT_STREQ(ErrorText(12), "");
    EXPECT_STREQ(ErrorText(-1), "");
}

TEST(UnCabProperties, FailureWithoutPlatformError)
{
    TUnCab uncab;
    SetupError error = uncab.Failure("Incorrect CAB filename!");
    EXPECT_TRUE(error);
    EXPECT_EQ(error.Message(), "Incorrect CAB filename!");
}

// --- runs that end before the decompressor --------------------------------------

TEST_F(Cabinet, EmptyMaskDoesNothingAndKeepsTheLastResults)
{
    std::string cab = PutCabinet("run.cab", MakeCabinet({Entry("go.exe", "x", 0x60), Entry("a.txt", "a")}));
    TUnCab uncab;
    Configure(uncab, cab);
    ASSERT_FALSE(uncab.Execute());
    ASSERT_EQ(uncab.RunList(), dest + "\\go.exe\r");
    ASSERT_EQ(uncab.ExtractedCount(), 2);

    Recorder rec;
    rec.Attach(uncab);
    uncab.Mask = W("");
    uncab.SetDestination(W(dir + "\\other"));
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(uncab.RunList(), dest + "\\go.exe\r");
    EXPECT_EQ(uncab.ExtractedCount(), 2);
    EXPECT_FALSE(Exists(dir + "\\other"));
}

TEST_F(Cabinet, PlatformErrorOfAnEarlierRunIsNotPinnedOnTheNext)
{
    std::string cab = PutCabinet("e.cab", MakeCabinet({Entry("a.txt", "a")}));
    TUnCab uncab;
    Configure(uncab, cab);
    Recorder rec;
    rec.Attach(uncab);
    rec.action = 2;
    ASSERT_EQ(RunFor(uncab), "FDICopy() Failed : code 11 [Client requested abort]");
    uncab.SetCabinetFile(W(""));
    EXPECT_EQ(RunFor(uncab), "Incorrect CAB filename!");
    EXPECT_EQ(uncab.ErrorRecord().fError, 0);
}

TEST_F(Cabinet, EmptyCabinetFileFiresStartThenFails)
{
    TUnCab uncab;
    Recorder rec;
    rec.Attach(uncab);
    uncab.Mask = W("*.*");
    EXPECT_EQ(RunFor(uncab), "Incorrect CAB filename!");
    EXPECT_EQ(rec.events, std::vector<std::string>{"start"});
}

// --- what lands where ------------------------------------------------------------

TEST_F(Cabinet, PayloadMaskSkipsNamesWithoutDotAndListsTheRest)
{
    std::string big = Bytes(100000, 7); // spans several data blocks
    std::string cab = PutCabinet("payload.cab", MakeCabinet({Entry("a.txt", "alpha"), Entry("README", "no dot"),
                                                              Entry("bin\\b.dll", big), Entry("v1.0\\tool", "t")}));
    TUnCab uncab;
    Configure(uncab, cab);
    TCabNotify notify;
    uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
    Recorder rec;
    uncab.OnFinish = BindEvent<&Recorder::Finish>(&rec);

    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(notify.FileList, dest + "\\a.txt\r" + dest + "\\b.dll\r" + dest + "\\tool\r");
    EXPECT_EQ(uncab.ExtractedCount(), 3);
    EXPECT_EQ(ReadAll(dest + "\\a.txt"), "alpha");
    EXPECT_TRUE(ReadAll(dest + "\\b.dll") == big);
    EXPECT_EQ(ReadAll(dest + "\\tool"), "t");
    EXPECT_FALSE(Exists(dest + "\\README"));
    EXPECT_EQ(rec.events, std::vector<std::string>{"finish"});
    EXPECT_TRUE(NotHeld(cab));
    EXPECT_TRUE(NotHeld(dest + "\\b.dll"));
}

TEST_F(Cabinet, SingleNameMaskTakesOnlyThatEntryInAnyCase)
{
    std::string cab = PutCabinet("lic.cab", MakeCabinet({Entry("docs\\license.txt", "wrong"), Entry("license.TXT", "right"),
                                                          Entry("other.txt", "o")}));
    TUnCab uncab;
    Configure(uncab, cab, "LICENSE.txt");
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(uncab.ExtractedCount(), 1);
    EXPECT_EQ(ReadAll(dest + "\\license.TXT"), "right");
    EXPECT_FALSE(Exists(dest + "\\other.txt"));
}

TEST_F(Cabinet, SameLastNameFromTwoFoldersLandsOnOneTargetListedTwice)
{
    std::string cab = PutCabinet("same.cab", MakeCabinet({Entry("x\\same.txt", "first"), Entry("y\\same.txt", "second")}));
    TUnCab uncab;
    Configure(uncab, cab);
    TCabNotify notify;
    uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(notify.FileList, dest + "\\same.txt\r" + dest + "\\same.txt\r");
    EXPECT_EQ(ReadAll(dest + "\\same.txt"), "second");
    EXPECT_EQ(uncab.ExtractedCount(), 2);
}

TEST_F(Cabinet, KeepPathsCreatesTheStoredFolders)
{
    std::string cab = PutCabinet("keep.cab", MakeCabinet({Entry("x\\y\\deep.txt", "d"), Entry("top.txt", "t"),
                                                          Entry("x\\README", "r")}));
    TUnCab uncab;
    Configure(uncab, cab, "*", ucOverwrite | ucKeepPaths | ucCreateFolders);
    // The installation lists a tree's files relative to the install folder.
    TCabNotify notify;
    notify.Skip = uncab.Destination().size();
    uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(ReadAll(dest + "\\x\\y\\deep.txt"), "d");
    EXPECT_EQ(ReadAll(dest + "\\top.txt"), "t");
    EXPECT_EQ(ReadAll(dest + "\\x\\README"), "r");
    EXPECT_EQ(notify.FileList, "x\\y\\deep.txt\rtop.txt\rx\\README\r");
}

// A folder of the tree that is a link (or junction) may lead anywhere: the
// extraction refuses a name that reaches it.
TEST_F(Cabinet, KeepPathsNeverWritesThroughALink)
{
    std::string cab = PutCabinet("keep.cab", MakeCabinet({Entry("top.txt", "t"), Entry("x\\y\\deep.txt", "d")}));
    const std::string outside = dir + "\\outside";
    ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    // Taken at run time: the stub's headers target systems older than it.
    using CreateLink = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    const auto createLink = reinterpret_cast<CreateLink>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "CreateSymbolicLinkW")));
    const DWORD kFolderLink = 1; // SYMBOLIC_LINK_FLAG_DIRECTORY
    if (!createLink || !createLink(W(dest + "\\x").c_str(), W(outside).c_str(), kFolderLink))
        GTEST_SKIP() << "no folder links here: error " << GetLastError();
    // Wine 8 makes a link that reads as no file at all (attributes
    // INVALID_FILE_ATTRIBUTES), not as a reparse point: nothing to test there.
    const DWORD attributes = GetFileAttributesW(W(dest + "\\x").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the link made here is no reparse point: attributes " << attributes;
    TUnCab uncab;
    Configure(uncab, cab, "*", ucOverwrite | ucKeepPaths | ucCreateFolders);
    EXPECT_EQ(RunFor(uncab), "The file name \"x\\y\\deep.txt\" is not allowed!");
    EXPECT_EQ(ReadAll(dest + "\\top.txt"), "t");
    EXPECT_FALSE(Exists(outside + "\\y"));
}

TEST_F(Cabinet, StoredNamesNeverLeaveTheDestination)
{
    // Flat: only the last component counts, whatever the separators.
    {
        std::string cab = PutCabinet("flat.cab", MakeCabinet({Entry("..\\..\\up.txt", "1"), Entry("C:\\abs\\drv.txt", "2"),
                                                               Entry("/etc/slash.txt", "3"), Entry("d:colon.txt", "4")}));
        TUnCab uncab;
        Configure(uncab, cab);
        EXPECT_EQ(RunFor(uncab), "");
        for (const char* name : {"up.txt", "drv.txt", "slash.txt", "colon.txt"})
            EXPECT_TRUE(Exists(dest + "\\" + name)) << name;
        EXPECT_EQ(uncab.ExtractedCount(), 4);
        EXPECT_FALSE(Exists(dir + "\\up.txt"));
    }
    // With folders kept, a name that would climb out is refused before
    // anything is written or listed for it; flat or not, so is a name that
    // Windows takes for a device.
    struct Refused {
        const char* stored;
        const char* shown;
        bool keepPaths;
    };
    const Refused refused[] = {
        {"..\\up.txt", "..\\up.txt", true},
        {"sub\\..\\..\\up.txt", "sub\\..\\..\\up.txt", true},
        {"sub/../../up.txt", "sub/../../up.txt", true},
        {"\\root.txt", "\\root.txt", true},
        {"/root.txt", "/root.txt", true},
        {"C:\\abs.txt", "C:\\abs.txt", true},
        {"c:rel.txt", "c:rel.txt", true},
        {"sub\\...\\x.txt", "sub\\...\\x.txt", true},
        {"sub\\nul.txt", "sub\\nul.txt", true},
        {"nul.txt", "nul.txt", false},
        {"docs\\AUX.txt", "AUX.txt", false},
        {"com1.log", "com1.log", false},
        {"con .txt", "con .txt", false},
        {"a<b>.txt", "a<b>.txt", false},
    };
    for (const Refused& r : refused) {
        const char* name = r.stored;
        RemoveTree(dest);
        std::string cab = PutCabinet("keep.cab", MakeCabinet({Entry("ok.txt", "ok"), Entry(name, "bad")}));
        TUnCab uncab;
        Configure(uncab, cab, "*", ucOverwrite | ucCreateFolders | (r.keepPaths ? ucKeepPaths : 0));
        TCabNotify notify;
        uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
        // The walk refuses it first, with nothing written or listed.
        EXPECT_EQ(U(uncab.CheckEntries().Message()), std::string("The file name \"") + r.shown + "\" is not allowed!");
        EXPECT_EQ(notify.FileList, "") << name;
        EXPECT_FALSE(Exists(dest)) << name;
        EXPECT_EQ(RunFor(uncab), std::string("The file name \"") + r.shown + "\" is not allowed!");
        EXPECT_EQ(notify.FileList, dest + "\\ok.txt\r") << name;
        EXPECT_EQ(uncab.ExtractedCount(), 1) << name;
        EXPECT_FALSE(Exists(dir + "\\up.txt")) << name;
        EXPECT_FALSE(Exists("C:\\root.txt")) << name;
        EXPECT_FALSE(Exists("C:\\abs.txt")) << name;
    }
}

// The installation's walk before the first file: what the extraction would
// refuse, names that would land on one file in any letter case, and a
// cabinet that installs nothing. It writes and lists nothing either way.
TEST_F(Cabinet, CheckEntriesRefusesBeforeAnythingIsWritten)
{
    struct Case {
        const char* title;
        std::vector<TestEntry> entries;
        uint8_t options;
        std::string error; // empty: passes
        int count;         // entries that pass, when it passes
    };
    const uint8_t flat = ucOverwrite | ucCreateFolders, kept = flat | ucKeepPaths;
    const std::string eteUpper = "\xC3\x89T\xC3\x89.txt", reportUpper = "\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x81\xD0\xA2.txt";
    const Case cases[] = {
        {"a device name after a good file", {Entry("ok.txt", "ok"), Entry("nul.txt", "x")}, flat,
         "The file name \"nul.txt\" is not allowed!", 0},
        {"a device name below a folder", {Entry("ok.txt", "ok"), Entry("sub\\COM1.log", "x")}, flat,
         "The file name \"COM1.log\" is not allowed!", 0},
        {"a way up", {Entry("ok.txt", "ok"), Entry("x\\..", "x")}, flat, "The file name \"..\" is not allowed!", 0},
        {"names differing only in case", {Entry("Readme.txt", "a"), Entry("README.txt", "b")}, flat,
         "The file name \"README.txt\" is not allowed!", 0},
        {"names Windows cuts to one", {Entry("a.txt", "a"), Entry("A.TXT. ", "b")}, flat,
         "The file name \"A.TXT. \" is not allowed!", 0},
        {"one last name from two folders", {Entry("x\\same.txt", "a"), Entry("y\\SAME.TXT", "b")}, flat,
         "The file name \"SAME.TXT\" is not allowed!", 0},
        {"the same two kept in their folders", {Entry("x\\same.txt", "a"), Entry("y\\SAME.TXT", "b")}, kept, "", 2},
        {"UTF-8 names differing only in case",
         {Entry("\xC3\xA9t\xC3\xA9.txt", "a", 0xA0), Entry(eteUpper, "b", 0xA0)}, flat,
         "The file name \"" + eteUpper + "\" is not allowed!", 0},
        {"Cyrillic names differing only in case",
         {Entry("\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt", "a", 0xA0), Entry(reportUpper, "b", 0xA0)}, flat,
         "The file name \"" + reportUpper + "\" is not allowed!", 0},
        {"accented letters that are not one in any case",
         {Entry("\xC3\xA9t\xC3\xA9.txt", "a", 0xA0), Entry("\xC3\xAAt\xC3\xA9.txt", "b", 0xA0)}, flat, "", 2},
        {"letters next to each other in ASCII", {Entry("a[.txt", "a"), Entry("a{.txt", "b"), Entry("A@.txt", "c"),
                                                  Entry("a`.txt", "d")}, flat, "", 4},
        {"kept folders Windows makes one", {Entry("Docs.\\a.txt", "a"), Entry("docs \\A.txt", "b")}, kept,
         "The file name \"docs \\A.txt\" is not allowed!", 0},
        {"a device name as a kept folder", {Entry("ok.txt", "ok"), Entry("con\\a.txt", "x")}, kept,
         "The file name \"con\\a.txt\" is not allowed!", 0},
        {"a kept folder where a file went", {Entry("lib.d", "d"), Entry("ok.txt", "ok"), Entry("LIB.D.\\a.txt", "a")},
         kept, "The file name \"LIB.D.\\a.txt\" is not allowed!", 0},
        {"a file where a kept folder went", {Entry("docs\\sub.d\\a.txt", "a"), Entry("Docs\\Sub.d", "s")}, kept,
         "The file name \"Docs\\Sub.d\" is not allowed!", 0},
        {"one folder for many files, a file of its name elsewhere",
         {Entry("a.d\\x.txt", "x"), Entry("a.d\\y.txt", "y"), Entry("b\\a.d", "a")}, kept, "", 3},
        {"a name the mask passes by", {Entry("README", "r"), Entry("a.txt", "a")}, flat, "", 1},
        {"only names the mask passes by", {Entry("README", "r")}, flat, "The cabinet holds no files!", 0},
        {"no entry at all", {}, flat, "The cabinet holds no files!", 0},
        {"a target too long", {Entry("ok.txt", "ok"), Entry(std::string(250, 'n') + ".txt", "x")}, flat,
         "Cannot create", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        std::string cab = PutCabinet("check.cab", MakeCabinet(c.entries));
        TUnCab uncab;
        Configure(uncab, cab, "*.*", c.options);
        TCabNotify notify;
        uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
        const std::string error = U(uncab.CheckEntries().Message());
        EXPECT_EQ(error.substr(0, c.error == "Cannot create" ? 13 : std::string::npos), c.error);
        if (c.error.empty()) {
            EXPECT_EQ(uncab.ExtractedCount(), c.count);
        }
        EXPECT_EQ(notify.FileList, "");
        EXPECT_FALSE(Exists(dest));
    }

    // A package's copies ("stored|copy\r") are held to the same rules, after
    // the entries and against them.
    struct CopyCase {
        const char* title;
        uint8_t options;
        std::string copies;
        std::string error; // empty: passes
        int count;         // entries and copies that pass, when it passes
    };
    const CopyCase copyCases[] = {
        {"copies beside the entries", kept, "a.txt|y\\a.txt\rx\\b.txt|x\\c.txt\r", "", 4},
        {"a copy on an entry in another case", flat, "a.txt|B.TXT\r", "The file name \"B.TXT\" is not allowed!", 0},
        {"two copies Windows makes one", kept, "a.txt|y\\c.txt\ra.txt|Y.\\C.TXT\r",
         "The file name \"Y.\\C.TXT\" is not allowed!", 0},
        {"a copy out of the folder", kept, "a.txt|..\\a.txt\r", "The file name \"..\\a.txt\" is not allowed!", 0},
        {"a copy's path too long", flat, "a.txt|" + std::string(250, 'n') + ".txt\r", "Cannot create", 0},
    };
    for (const CopyCase& c : copyCases) {
        SCOPED_TRACE(c.title);
        std::string cab = PutCabinet("check.cab", MakeCabinet({Entry("a.txt", "a"), Entry("x\\b.txt", "b")}));
        TUnCab uncab;
        Configure(uncab, cab, "*.*", c.options);
        const std::string error = U(uncab.CheckEntries(W(c.copies)).Message());
        EXPECT_EQ(error.substr(0, c.error == "Cannot create" ? 13 : std::string::npos), c.error);
        if (c.error.empty()) {
            EXPECT_EQ(uncab.ExtractedCount(), c.count);
        }
        EXPECT_FALSE(Exists(dest));
    }
}

TEST_F(Cabinet, TimesAndAttributesAfterExtraction)
{
    struct Case {
        const char* name;
        uint16_t stored;
        DWORD expected; // Wine reports the archive bit on every file
    } cases[] = {
        {"none.txt", 0x00, 0x20},  {"ro.txt", 0x01, 0x21},     {"hidden.txt", 0x02, 0x22},
        {"sys.txt", 0x04, 0x24},   {"arch.txt", 0x20, 0x20},   {"all.txt", 0x27, 0x27},
        {"run.txt", 0x41, 0x21},   {"high.txt", 0x98, 0x20},
    };
    std::vector<TestEntry> entries;
    for (const Case& c : cases) {
        TestEntry e = Entry(c.name, c.name, c.stored);
        e.date = static_cast<uint16_t>(((2021 - 1980) << 9) | (6 << 5) | 15); // 2021-06-15
        e.time = static_cast<uint16_t>((13 << 11) | (45 << 5) | (30 / 2));    // 13:45:30
        entries.push_back(e);
    }
    std::string cab = PutCabinet("attr.cab", MakeCabinet(entries));
    TUnCab uncab;
    Configure(uncab, cab);
    EXPECT_EQ(RunFor(uncab), "");

    FILETIME local, expected;
    ASSERT_TRUE(DosDateTimeToFileTime(entries[0].date, entries[0].time, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
    for (const Case& c : cases) {
        std::string path = dest + "\\" + c.name;
        EXPECT_EQ(GetFileAttributesA(path.c_str()), c.expected) << c.name;
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << c.name;
        EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &expected), 0) << c.name;
        EXPECT_EQ(CompareFileTime(&data.ftCreationTime, &expected), 0) << c.name;
    }
}

TEST_F(Cabinet, RunFlagFillsRunListWithoutOpening)
{
    std::string cab = PutCabinet("run.cab", MakeCabinet({Entry("a.txt", "a"), Entry("go.txt", "g", 0x60),
                                                          Entry("b.txt", "b"), Entry("sub\\too.txt", "t", 0x40)}));
    TUnCab uncab;
    Configure(uncab, cab);
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(uncab.RunList(), dest + "\\go.txt\r" + dest + "\\too.txt\r");
    // A second run starts a fresh list.
    uncab.Mask = W("a.txt");
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(uncab.RunList(), "");
    EXPECT_EQ(uncab.ExtractedCount(), 1);
}

TEST_F(Cabinet, BareCabinetNameIsFoundInTheCurrentFolder)
{
    PutCabinet("bare.cab", MakeCabinet({Entry("a.txt", "a")}));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    TUnCab uncab;
    Configure(uncab, "BARE"); // no extension: read as "bare.cab"
    std::string result = RunFor(uncab);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(result, "");
    EXPECT_EQ(ReadAll(dest + "\\a.txt"), "a");
}

// --- OnCopyFile ----------------------------------------------------------------

TEST_F(Cabinet, CopyFileEventSeesEachTargetAndDecides)
{
    TestEntry dated = Entry("dated.txt", "12345");
    dated.date = static_cast<uint16_t>(((2010 - 1980) << 9) | (3 << 5) | 4); // 2010-03-04
    dated.time = static_cast<uint16_t>((5 << 11) | (6 << 5) | 4);            // 05:06:08
    std::string cab = PutCabinet("ev.cab", MakeCabinet({dated, Entry("skip.txt", "s"), Entry("keep.txt", "k")}));
    TUnCab uncab;
    Configure(uncab, cab);
    Recorder rec;
    rec.Attach(uncab);
    rec.action = 1;
    rec.actionFor = dest + "\\skip.txt";
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"start", "copy " + dest + "\\dated.txt 5", "copy " + dest + "\\skip.txt 1",
                                                    "copy " + dest + "\\keep.txt 1", "finish"}));
    EXPECT_FALSE(Exists(dest + "\\skip.txt"));
    EXPECT_TRUE(Exists(dest + "\\keep.txt"));
    EXPECT_EQ(uncab.ExtractedCount(), 2);

    // DateTime: the stored local time, taken to UTC.
    FILETIME local, utc;
    SYSTEMTIME expected;
    ASSERT_TRUE(DosDateTimeToFileTime(dated.date, dated.time, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    ASSERT_TRUE(FileTimeToSystemTime(&utc, &expected));
    ASSERT_FALSE(rec.times.empty());
    EXPECT_EQ(rec.times[0].wYear, expected.wYear);
    EXPECT_EQ(rec.times[0].wMonth, expected.wMonth);
    EXPECT_EQ(rec.times[0].wDay, expected.wDay);
    EXPECT_EQ(rec.times[0].wHour, expected.wHour);
    EXPECT_EQ(rec.times[0].wMinute, 6);
    EXPECT_EQ(rec.times[0].wSecond, 8);
}

TEST_F(Cabinet, CopyFileActionTwoOrMoreAbortsThroughThePlatform)
{
    for (uint8_t action : {2, 7}) {
        RemoveTree(dest);
        std::string cab = PutCabinet("ab.cab", MakeCabinet({Entry("a.txt", "a"), Entry("b.txt", "b"), Entry("c.txt", "c")}));
        TUnCab uncab;
        Configure(uncab, cab);
        Recorder rec;
        rec.Attach(uncab);
        rec.action = action;
        rec.actionFor = dest + "\\b.txt";
        EXPECT_EQ(RunFor(uncab), "FDICopy() Failed : code 11 [Client requested abort]");
        EXPECT_EQ(rec.events.back(), "copy " + dest + "\\b.txt 1");
        EXPECT_TRUE(Exists(dest + "\\a.txt"));
        EXPECT_FALSE(Exists(dest + "\\b.txt"));
        EXPECT_FALSE(Exists(dest + "\\c.txt"));
        EXPECT_TRUE(NotHeld(cab));
    }
}

// --- errors raised inside notifications arrive unchanged --------------------------

TEST_F(Cabinet, ErrorsRaisedInNotificationsLeaveExecuteUnchanged)
{
    std::string cab = PutCabinet("err.cab", MakeCabinet({Entry("a.txt", "a"), Entry("b.txt", "b")}));
    struct Case {
        const char* what;
        uint8_t options;
        const char* mask;
        const char* raise;
        bool existing;
        std::string expected;
    } cases[] = {
        {"handler", 0x09, "*.*", "Operation aborted by user", false, "Operation aborted by user"},
        {"existing target", 0x08, "*.*", "", true, "This file already exists!"},
        {"invalid mask", 0x09, "[a", "", false, "'[a' is an invalid mask at (3)"},
    };
    for (const Case& c : cases) {
        RemoveTree(dest);
        CreateDirectoryA(dest.c_str(), nullptr);
        if (c.existing)
            WriteAll(dest + "\\b.txt", "old");
        TUnCab uncab;
        Configure(uncab, cab, c.mask, c.options);
        Recorder rec;
        rec.Attach(uncab);
        rec.raise = c.raise;
        EXPECT_EQ(RunFor(uncab), c.expected) << c.what;
        EXPECT_NE(rec.events.back(), "finish") << c.what;
        EXPECT_TRUE(NotHeld(cab)) << c.what;
        if (c.existing) {
            EXPECT_EQ(ReadAll(dest + "\\a.txt"), "a");
            EXPECT_EQ(ReadAll(dest + "\\b.txt"), "old");
            EXPECT_TRUE(NotHeld(dest + "\\a.txt"));
        }
        // The platform did record an abort; the message still came through
        // as raised.
        EXPECT_EQ(uncab.ErrorRecord().erfOper, 11) << c.what;
        // The object is still usable afterwards.
        uncab.Mask = W("a.txt");
        uncab.Options = 0x09;
        uncab.OnCopyFile = TCopyFileEvent();
        EXPECT_EQ(RunFor(uncab), "") << c.what;
        EXPECT_EQ(uncab.ExtractedCount(), 1) << c.what;
    }
}

// --- the platform's failures ----------------------------------------------------

TEST_F(Cabinet, PlatformFailuresNameTheCallAndCode)
{
    std::string good = MakeCabinet({Entry("a.txt", "a")});
    struct Case {
        const char* what;
        std::string bytes; // empty: no cabinet file at all
        std::string expected;
    } cases[] = {
        {"missing", "", "FDICopy() Failed : code 1 [Cabinet not found]"},
        {"not a cabinet", "this is plain text, not a cabinet at all", "FDICopy() Failed : code 2 [Cabinet file does not have the correct format]"},
        {"damaged data", MakeDamagedCabinet({Entry("a.txt", Bytes(5000, 3), 0x60)}), "FDICopy() Failed : code 4 [Cabinet file is corrupt]"},
    };
    for (const Case& c : cases) {
        std::string path = dir + "\\bad.cab";
        DeleteFileA(path.c_str());
        if (!c.bytes.empty())
            WriteAll(path, c.bytes);
        TUnCab uncab;
        Configure(uncab, path);
        Recorder rec;
        rec.Attach(uncab);
        uncab.OnCopyFile = TCopyFileEvent();
        EXPECT_EQ(RunFor(uncab), c.expected) << c.what;
        EXPECT_EQ(rec.events, std::vector<std::string>{"start"}) << c.what;
        // A target the platform could not fill is neither counted nor started.
        EXPECT_EQ(uncab.ExtractedCount(), 0) << c.what;
        EXPECT_EQ(uncab.RunList(), "") << c.what;
        if (Exists(dest + "\\a.txt")) {
            EXPECT_TRUE(NotHeld(dest + "\\a.txt")) << c.what;
        }
        if (!c.bytes.empty()) {
            EXPECT_TRUE(NotHeld(path)) << c.what;
        }
    }
}

// A target that cannot be created ends the run with its path and the
// system's reason (whose words differ between Windows and Wine).
void ExpectCannotCreate(const std::string& message, const std::string& target)
{
    const std::string head = "Cannot create \"" + target + "\".\r\n";
    EXPECT_EQ(message.substr(0, head.size()), head);
    EXPECT_GT(message.size(), head.size()) << "no reason given";
}

TEST_F(Cabinet, TargetThatCannotBeCreatedAbortsTheRun)
{
    std::string cab = PutCabinet("t.cab", MakeCabinet({Entry("a.txt", "a"), Entry("b.txt", "b"), Entry("c.txt", "c")}));
    const std::string victim = dir + "\\victim.ini";
    // What stands at b.txt's name. An existing plain file, longer than the
    // entry, is replaced by exactly the entry's bytes.
    const struct Case {
        const char* what;
        bool folder, link;
        const char* error; // "" for none
    } cases[] = {
        // Root is not stopped by permissions.
        {"a folder", true, false, "Cannot create"},
        // A second name of a file outside: written through, it would change
        // that file.
        {"a hard link to a file elsewhere", false, true, "Cannot create"},
        {"a longer file of its own", false, false, ""},
    };
    for (const Case& c : cases) {
        RemoveTree(dest);
        CreateDirectoryA(dest.c_str(), nullptr);
        WriteAll(victim, "system settings, longer than the entry");
        if (c.folder)
            CreateDirectoryA((dest + "\\b.txt").c_str(), nullptr);
        else if (c.link)
            ASSERT_TRUE(CreateHardLinkA((dest + "\\b.txt").c_str(), victim.c_str(), nullptr)) << c.what;
        else
            WriteAll(dest + "\\b.txt", "an older and much longer b.txt");
        TUnCab uncab;
        Configure(uncab, cab);
        TCabNotify notify;
        uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
        const std::string message = RunFor(uncab);
        EXPECT_EQ(ReadAll(victim), "system settings, longer than the entry") << c.what;
        // Listed before the create, so the failed entry is listed too.
        EXPECT_EQ(notify.FileList.substr(0, 2 * dest.size() + 14), dest + "\\a.txt\r" + dest + "\\b.txt\r") << c.what;
        if (*c.error) {
            ExpectCannotCreate(message, dest + "\\b.txt");
            EXPECT_EQ(uncab.ExtractedCount(), 1) << c.what;
            EXPECT_FALSE(Exists(dest + "\\c.txt")) << c.what;
        } else {
            EXPECT_EQ(message, "") << c.what;
            EXPECT_EQ(ReadAll(dest + "\\b.txt"), "b") << c.what;
            EXPECT_EQ(uncab.ExtractedCount(), 3) << c.what;
        }
    }
}

TEST_F(Cabinet, OverlongTargetFailsLikeAnyUncreatableTarget)
{
    std::string cab = PutCabinet("long.cab", MakeCabinet({Entry(std::string(200, 'n') + ".txt", "a")}));
    TUnCab uncab;
    Configure(uncab, cab);
    uncab.SetDestination(W(dest + "\\" + std::string(120, 'd')));
    ExpectCannotCreate(RunFor(uncab), dest + "\\" + std::string(120, 'd') + "\\" + std::string(200, 'n') + ".txt");
    EXPECT_EQ(uncab.ExtractedCount(), 0);
}

TEST_F(Cabinet, MissingFolderOnAMissingDriveEndsTheClimb)
{
    std::string cab = PutCabinet("q.cab", MakeCabinet({Entry("a.txt", "a")}));
    TUnCab uncab;
    Configure(uncab, cab);
    uncab.SetDestination(W("Q:\\no\\such\\place"));
    ExpectCannotCreate(RunFor(uncab), "Q:\\no\\such\\place\\a.txt");
}

// --- cabinet sets ------------------------------------------------------------------

class CabinetSet : public Cabinet {
protected:
    void Write(bool withSecond)
    {
        spanning = Entry("span.bin", Bytes(70000, 11));
        set = MakeCabinetSet({Entry("one.txt", "1")}, spanning, {Entry("two.txt", "2")}, "set1.cab", "set2.cab");
        first = PutCabinet("set1.cab", set.first);
        if (withSecond)
            second = PutCabinet("set2.cab", set.second);
        else
            second = dir + "\\set2.cab";
    }
    TestEntry spanning;
    TestCabinetSet set;
    std::string first, second;
};

TEST_F(CabinetSet, EntryContinuedIntoTheNextCabinetIsWhole)
{
    Write(true);
    TUnCab uncab;
    Configure(uncab, first);
    EXPECT_EQ(RunFor(uncab), "");
    EXPECT_EQ(ReadAll(dest + "\\one.txt"), "1");
    EXPECT_TRUE(ReadAll(dest + "\\span.bin") == spanning.data);
    EXPECT_TRUE(NotHeld(first));
    EXPECT_TRUE(NotHeld(second));
}

TEST_F(CabinetSet, MissingNextCabinetFailsWithoutAsking)
{
    Write(false);
    CreateDirectoryA(dest.c_str(), nullptr);
    TUnCab uncab;
    Configure(uncab, first);
    uncab.Options = 0x5F & ~ucConfirmOverwrite; // prompts allowed, none may come
    EXPECT_EQ(RunFor(uncab), "FDICopy() Failed : code 11 [Client requested abort]");
    EXPECT_EQ(ReadAll(dest + "\\one.txt"), "1");
    // The half-written entry is closed, not counted, and not left behind.
    EXPECT_EQ(uncab.ExtractedCount(), 1);
    EXPECT_FALSE(Exists(dest + "\\span.bin"));
    EXPECT_TRUE(NotHeld(first));
}

TEST_F(CabinetSet, PartialFileEventDecides)
{
    Write(true);
    for (bool abort : {false, true}) {
        RemoveTree(dest);
        TUnCab uncab;
        Configure(uncab, second);
        Recorder rec;
        rec.Attach(uncab);
        uncab.OnCopyFile = TCopyFileEvent();
        rec.abortPartial = abort;
        std::string message = RunFor(uncab);
        ASSERT_GE(rec.events.size(), 2u);
        EXPECT_EQ(rec.events[1], "partial set1.cab|Disk 1|span.bin");
        EXPECT_FALSE(Exists(dest + "\\span.bin"));
        if (abort) {
            EXPECT_EQ(message, "FDICopy() Failed : code 11 [Client requested abort]");
            EXPECT_FALSE(Exists(dest + "\\two.txt"));
        } else {
            EXPECT_EQ(message, "");
            EXPECT_EQ(ReadAll(dest + "\\two.txt"), "2");
        }
    }
}

} // namespace
