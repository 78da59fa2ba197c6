// The system services, under Wine.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/win/FileHelpers.h"
#include "services/Services.h"
#include "services/SetupError.h"
#include "services/Text.h"

namespace {

std::string Lower(const WString& s) { return U(LowerAscii(s)); }
std::string Lower(const std::string& s) { return Lower(W(s)); }

// What a copy reported: done and size of each call.
std::vector<std::vector<int>> g_progress;
void RecordProgress(int done, int size) { g_progress.push_back({done, size}); }

} // namespace

// --- Temporary names -------------------------------------------------------

// The test program starts every search where the test says, in place of the
// system's random source; the stub's own start is looked at end to end.
uint32_t g_tempStart = 0x123456;
uint32_t TempSearchStart() { return g_tempStart; }

using TempNames = Scratch;

namespace {
// The name UniqueTempName gives; it fails only when every name is taken.
std::string TempName(const std::string& folder, const std::string& extension, UniqueHandle& file)
{
    WString name;
    EXPECT_FALSE(UniqueTempName(W(folder), W(extension), file, name));
    return U(name);
}

bool NewTempFolder(const std::string& folder, std::string& path)
{
    bool created = false;
    WString made;
    EXPECT_FALSE(UniqueTempFolder(W(folder), made, created));
    path = U(made);
    return created;
}
} // namespace

TEST_F(TempNames, CreatesTheFirstFreeNameAndHoldsIt)
{
    UniqueHandle held;
    EXPECT_EQ(TempName(dir_, ".cab", held), dir_ + "\\_KT14D2N.cab");
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"_KT14D2N.cab"});
    // Others may read it; nobody may write, replace or delete it.
    EXPECT_EQ(ReadAll(Path("_KT14D2N.cab")), "");
    UniqueHandle writer(CreateFileA(Path("_KT14D2N.cab").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.Valid());
    EXPECT_FALSE(DeleteFileA(Path("_KT14D2N.cab").c_str()));
    WriteAll(Path("other"), "other");
    EXPECT_FALSE(MoveFileExA(Path("other").c_str(), Path("_KT14D2N.cab").c_str(), MOVEFILE_REPLACE_EXISTING));

    // The start wraps into the folder's next free name; ".exe" is a name of its own.
    g_tempStart = 0xFE000000u | 0x1FFFFFF;
    UniqueHandle second;
    EXPECT_EQ(TempName(dir_ + "\\", ".exe", second), dir_ + "\\_KT00000.exe");
    g_tempStart = 0x123456;
}

TEST_F(TempNames, WhatHasTheNameIsNeverOpened)
{
    // A folder, a file held open and a file nobody holds, at the first three
    // names: each is left as it is and the fourth name is taken. (Links are
    // planted from outside, end to end: Wine's CreateSymbolicLinkA makes
    // none.)
    ASSERT_TRUE(CreateDirectoryA(Path("_KT14D2N.exe").c_str(), nullptr));
    WriteAll(Path("_KT14D2O.exe"), "held");
    UniqueHandle lock(CreateFileA(Path("_KT14D2O.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.Valid());
    WriteAll(Path("_KT14D2P.exe"), "someone's");

    UniqueHandle file;
    EXPECT_EQ(TempName(dir_, ".exe", file), Path("_KT14D2Q.exe"));
    EXPECT_TRUE(file.Valid());
    EXPECT_TRUE(IsExistingFolder(Path("_KT14D2N.exe")));
    lock.Close();
    EXPECT_EQ(ReadAll(Path("_KT14D2O.exe")), "held");
    EXPECT_EQ(ReadAll(Path("_KT14D2P.exe")), "someone's");

    // A folder of the run's own follows the same rule.
    std::string folder;
    EXPECT_TRUE(NewTempFolder(dir_, folder));
    EXPECT_EQ(folder, Path("_KT14D2N"));
    EXPECT_TRUE(NewTempFolder(dir_, folder));
    EXPECT_EQ(folder, Path("_KT14D2O"));
}

TEST_F(TempNames, AFolderThatCannotHoldFilesFailsAtOnce)
{
    // A plain file where the folder should be: the first name fails and is
    // the one reported; nothing is searched further.
    WriteAll(Path("notafolder"), "x");
    UniqueHandle file;
    EXPECT_EQ(TempName(Path("notafolder"), ".cab", file), Path("notafolder\\_KT14D2N.cab"));
    EXPECT_FALSE(file.Valid());
    std::string folder;
    EXPECT_FALSE(NewTempFolder(Path("missing"), folder));
    EXPECT_EQ(folder, Path("missing\\_KT14D2N"));
}

TEST(TempFolderTest, IsTheWindowsFoldersTempWhateverTheEnvironmentSays)
{
    SetEnvironmentVariableA("TEMP", "C:\\elsewhere");
    SetEnvironmentVariableA("TMP", "C:\\elsewhere2");
    EXPECT_EQ(Lower(WindowsFolder()), "c:\\windows");
    EXPECT_EQ(Lower(TempFolder()), "c:\\windows\\temp");
}

// --- Copy with progress ----------------------------------------------------

using Copy = Scratch;

namespace {
UniqueHandle NewFile(const std::string& path)
{
    return UniqueHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}
} // namespace

TEST_F(Copy, ReportsEachPieceAgainstTheFileSize)
{
    // An empty source still makes one pass.
    std::string data(40000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 + i / 256);
    const std::pair<std::string, std::vector<std::vector<int>>> cases[] = {
        {data, {{0, 40000}, {16384, 40000}, {32768, 40000}, {40000, 40000}}}, {"", {{0, 0}, {0, 0}}}};
    for (const auto& [bytes, progress] : cases) {
        WriteAll(Path("src.bin"), bytes);
        g_progress.clear();
        {
            UniqueHandle target = NewFile(Path("dst.bin"));
            EXPECT_TRUE(CopyFileWithProgress(Path("src.bin"), target.Get(), RecordProgress));
        }
        EXPECT_EQ(g_progress, progress);
        EXPECT_TRUE(ReadAll(Path("dst.bin")) == bytes);
    }
}

TEST_F(Copy, UnreadableSourceOrTargetFails)
{
    WriteAll(Path("src"), "data");
    UniqueHandle target = NewFile(Path("dst"));
    {
        UniqueHandle lock(CreateFileA(Path("src").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(lock.Valid());
        EXPECT_FALSE(CopyFileWithProgress(Path("src"), target.Get(), RecordProgress));
    }
    EXPECT_FALSE(CopyFileWithProgress(Path("missing"), target.Get(), RecordProgress));
    UniqueHandle readOnly(CreateFileA(Path("dst").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(CopyFileWithProgress(Path("src"), readOnly.Get(), RecordProgress));
}

TEST_F(Copy, SourceHeldOpenAsTheRunningSetupHoldsIt)
{
    // The relaunch copies the uninstaller while its own run keeps it open
    // for reading, with only reading shared.
    WriteAll(Path("setup.exe"), std::string(20000, 'u'));
    UniqueHandle own(CreateFileA(Path("setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(own.Valid());
    {
        UniqueHandle target = NewFile(Path("copy.exe"));
        EXPECT_TRUE(CopyFileWithProgress(Path("setup.exe"), target.Get(), RecordProgress));
    }
    EXPECT_EQ(ReadAll(Path("copy.exe")), std::string(20000, 'u'));
}

TEST_F(Copy, SameContentAndDeletionThroughTheHandle)
{
    struct Case {
        std::string a, b;
        bool same;
    };
    const Case cases[] = {{"", "", true},
                          {std::string(40000, 'x'), std::string(40000, 'x'), true},
                          {std::string(40000, 'x'), std::string(39999, 'x') + "y", false},
                          {"abc", "abcd", false}};
    for (const Case& c : cases) {
        WriteAll(Path("a"), c.a);
        WriteAll(Path("b"), c.b);
        UniqueHandle a(CreateFileA(Path("a").c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   0, nullptr));
        UniqueHandle b(CreateFileA(Path("b").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
        EXPECT_EQ(SameContent(a.Get(), b.Get()), c.same) << c.a.size() << " " << c.b.size();
        EXPECT_TRUE(DeleteOpenFile(a.Get()));
        EXPECT_TRUE(Exists(Path("a"))); // until the last handle closes
        a.Close();
        EXPECT_FALSE(Exists(Path("a")));
    }
}

namespace {

// This program started as a copy by StartCheckedCopy (below) does no tests:
// "--report-handed REPORT GO" writes what its standard input is and how
// much it reads from it to REPORT, waits (20 s at most) for GO to exist,
// and exits.
const bool g_reportedHanded = [] {
    if (__argc != 4 || std::string(__argv[1]) != "--report-handed")
        return false;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    FileSource source(in);
    char head[2] = {};
    const std::string report = std::string(GetFileType(in) == FILE_TYPE_DISK ? "disk " : "not a disk file ") +
                               std::to_string(source.Size()) + " " +
                               std::string(head, source.ReadAt(0, head, sizeof head));
    UniqueHandle out(CreateFileA(__argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    WriteAll(out.Get(), report.data(), static_cast<DWORD>(report.size()));
    out.Close();
    for (int i = 0; i < 200 && !Exists(__argv[3]); ++i)
        Sleep(100);
    ExitProcess(0);
}();

} // namespace

TEST_F(Copy, TheStartedCopyReadsItselfThroughTheHandedFile)
{
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    UniqueHandle reference(CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reference.Valid());
    const std::string own = ReadAll(self);
    UniqueHandle written;
    WString path;
    ASSERT_FALSE(UniqueTempName(W(dir_), L".tmp", written, path));
    ASSERT_TRUE(CopyFileWithProgress(self, written.Get(), RecordProgress));
    const std::string report = Path("report.txt"), go = Path("go");
    ASSERT_TRUE(StartCheckedCopy(written, path, W("--report-handed \"" + report + "\" \"" + go + "\""),
                                 reference.Get()));
    for (int i = 0; i < 300 && !Exists(report); ++i)
        Sleep(100);
    Sleep(200); // written whole
    EXPECT_EQ(ReadAll(report), "disk " + std::to_string(own.size()) + " MZ");
    // While the copy runs its name leads to it: nobody renames it away.
    EXPECT_FALSE(MoveFileA(U(path).c_str(), Path("moved.exe").c_str()));
    EXPECT_TRUE(Exists(U(path)));
    EXPECT_FALSE(Exists(Path("moved.exe")));
    WriteAll(go, "");
    for (int i = 0; i < 100 && !DeleteFileA(U(path).c_str()); ++i)
        Sleep(100); // it lets go of its image as it ends
    EXPECT_FALSE(Exists(U(path)));
}

// --- Folders and files -----------------------------------------------------

using Folders = Scratch;

TEST_F(Folders, EnsureFolderCreatesMissingLevels)
{
    EXPECT_FALSE(EnsureFolder("C:\\"));
    EXPECT_FALSE(EnsureFolder("C:"));

    EXPECT_FALSE(EnsureFolder(Path("a\\b\\c")));
    EXPECT_TRUE(IsExistingFolder(Path("a")));
    EXPECT_TRUE(IsExistingFolder(Path("a\\b\\c")));

    EXPECT_FALSE(EnsureFolder(Path("d\\e\\")));
    EXPECT_TRUE(IsExistingFolder(Path("d\\e")));

    EXPECT_FALSE(EnsureFolder(Path("a\\b\\c"))); // already there: nothing to do

    // Under a plain file nothing can be made; that is not reported.
    WriteAll(Path("file"), "x");
    EXPECT_FALSE(EnsureFolder(Path("file\\sub")));
    EXPECT_FALSE(Exists(Path("file\\sub")));

    SetupError error = EnsureFolder("");
    EXPECT_TRUE(error);
    EXPECT_EQ(error.Message(), "Unable to create directory");
}

TEST_F(Folders, ExistenceTests)
{
    WriteAll(Path("file.txt"), "x");
    ASSERT_TRUE(CreateDirectoryA(Path("sub").c_str(), nullptr));
    struct Case {
        std::string path;
        bool file, folder;
    };
    const Case cases[] = {
        {Path("file.txt"), true, false},
        {Path("sub"), false, true},
        {Path("missing"), false, false},
        {Path("*.txt"), false, false}, // a pattern names no file even when something matches
        {Path("file.?xt"), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsExistingFile(c.path), c.file) << c.path;
        EXPECT_EQ(IsExistingFolder(c.path), c.folder) << c.path;
    }

    RemoveFolder(Path("sub"));
    EXPECT_FALSE(Exists(Path("sub")));
    ASSERT_TRUE(CreateDirectoryA(Path("full").c_str(), nullptr));
    WriteAll(Path("full\\x"), "x");
    RemoveFolder(Path("full"));
    EXPECT_TRUE(IsExistingFolder(Path("full")));
}

TEST(FolderOfTest, DecodedPaths)
{
    struct Case {
        const char* path;
        const char* folder;
    };
    const Case cases[] = {
        {"C:\\Program Files\\App\\setup.exe", "C:\\Program Files\\App"},
        {"C:\\setup.exe", "C:\\"},
        {"setup.exe", ""},
        {"C:\\dir\\", "C:\\dir"},
        // Decoded text: 表 (0x95 0x5C in code page 932) is one character.
        {"C:\\d\\表\\f", "C:\\d\\表"},
        {"C:\\d\\表", "C:\\d"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

// --- Shell links and launching ---------------------------------------------

using Links = Scratch;

namespace {
struct LinkFields {
    std::string path, folder, description, iconFile, arguments;
    int iconIndex = -1;
};

LinkFields ReadLink(const std::string& linkFile)
{
    LinkFields out;
    EXPECT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        ComPtr<IShellLinkA> link;
        ComPtr<IPersistFile> file;
        EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.PutVoid()),
                  S_OK);
        EXPECT_EQ(link->QueryInterface(IID_IPersistFile, file.PutVoid()), S_OK);
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, wide, MAX_PATH);
        EXPECT_EQ(file->Load(wide, STGM_READ), S_OK);
        char buffer[MAX_PATH];
        if (link->GetPath(buffer, MAX_PATH, nullptr, 0) == S_OK)
            out.path = buffer;
        if (SUCCEEDED(link->GetWorkingDirectory(buffer, MAX_PATH)))
            out.folder = buffer;
        if (SUCCEEDED(link->GetDescription(buffer, MAX_PATH)))
            out.description = buffer;
        if (SUCCEEDED(link->GetArguments(buffer, MAX_PATH)))
            out.arguments = buffer;
        if (SUCCEEDED(link->GetIconLocation(buffer, MAX_PATH, &out.iconIndex)))
            out.iconFile = buffer;
    }
    CoUninitialize();
    return out;
}
} // namespace

TEST_F(Links, WrittenLinkReadsBack)
{
    ASSERT_FALSE(EnsureFolder(Path("App")));
    WriteAll(Path("App\\viewer.exe"), "MZ");
    WriteAll(Path("App\\uninst.exe"), "MZ");

    // Twice in a row: COM is set up and taken down inside each call.
    for (int round = 0; round < 2; ++round) {
        std::string link = Path("link" + std::to_string(round) + ".lnk");
        EXPECT_EQ(CreateShellLink(Path("App\\viewer.exe"), "/x \"y\"", link, "Opens Viewer", Path("App\\uninst.exe"), 1),
                  S_OK);
        LinkFields f = ReadLink(link);
        EXPECT_EQ(Lower(f.path), Lower(Path("App\\viewer.exe")));
        EXPECT_EQ(Lower(f.folder), Lower(Path("App")));
        EXPECT_EQ(f.description, "Opens Viewer");
        EXPECT_EQ(f.arguments, "/x \"y\"");
        EXPECT_EQ(Lower(f.iconFile), Lower(Path("App\\uninst.exe")));
        EXPECT_EQ(f.iconIndex, 1);
    }
}

TEST_F(Links, LinkPathTooLongForTheBufferFailsAndWritesNothing)
{
    WriteAll(Path("t.exe"), "MZ");
    const std::string longName = std::string(300 - dir_.size(), 'n') + ".lnk";
    const std::string fits = std::string(250 - dir_.size(), 'f') + ".lnk";
    HRESULT hr = CreateShellLink(Path("t.exe"), "", Path(longName), "d", Path("t.exe"), 0);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_TRUE(SUCCEEDED(CreateShellLink(Path("t.exe"), "", Path(fits), "d", Path("t.exe"), 0)));
    std::vector<std::string> entries = Entries(dir_);
    EXPECT_EQ(entries.size(), 2u); // t.exe and the link that fits
}

TEST(Launch, StartsAndHandsOverTheProcess)
{
    UniqueHandle process = LaunchProgram(L"C:\\windows\\system32\\cmd.exe", L"/c exit 7", 0);
    ASSERT_TRUE(process.Valid());
    ASSERT_EQ(WaitForSingleObject(process.Get(), 20000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(code, 7u);

    EXPECT_FALSE(LaunchProgram(L"C:\\no such folder\\nothing.exe", L"", 1000).Valid());
}
