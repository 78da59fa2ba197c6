// Test driver for the end-to-end tests of the cabinet extractor.
//
//   cabtool extract CABINET DEST MASK OPTIONS [run] [notify] [owner] [gui]
//       Runs one TUnCab and prints "result: ok" or "result: <message>",
//       "count: <ExtractedCount>", "runlist: ...", "elapsed: <ms in Execute>"
//       and, with notify (a
//       TCabNotify attached), "filelist: ..."; carriage returns print as "|".
//       run: RunAfterExtract true (else false). owner: message boxes owned by
//       a window titled "CabOwner". gui: the progress window up and busy.
//   cabtool makecab OUT.cab NAME:ATTRIBS:DATA...
//       A cabinet from the test writer; DATA "@PATH" takes a file's bytes.
//   cabtool makeset FOLDER
//       set1.cab (one.txt, the start of span.bin) and set2.cab (the rest of
//       span.bin, two.txt) in FOLDER.
//   cabtool attrib PATH...
//       Prints "PATH: 0xNN" with each file's attributes as Windows reports them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "TestCabinet.h"
#include "cabinet/suncab.h"
#include "loader/CabNotify.h"
#include "services/Services.h"
#include "services/SetupError.h"
#include "services/Text.h"
#include "services/Win32.h"
#include "ui/uGUI.h"

namespace {

// Arguments in the system's code page; what is printed, in UTF-8.
WString Arg(const char* text) { return DecodeText(text, String::Length(text), 0); }
std::string Printed(const WString& text) { return EncodeUtf8(text).c_str(); }

std::string Visible(std::string text)
{
    for (char& c : text)
        if (c == '\r')
            c = '|';
    return text;
}

// Creates the file's folder (one level) when it is missing.
bool WriteAll(const std::string& path, const std::string& bytes)
{
    CreateDirectoryW(FolderOfPath(Arg(path.c_str())).c_str(), nullptr);
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return f.Valid() && ::WriteAll(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()));
}

std::string ReadAll(const std::string& path)
{
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string out;
    char buffer[65536];
    DWORD n;
    while (f.Valid() && (n = ReadBytes(f.Get(), buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    return out;
}

bool Has(int argc, char** argv, int from, const char* word)
{
    for (int i = from; i < argc; ++i)
        if (std::string(argv[i]) == word)
            return true;
    return false;
}

int Extract(int argc, char** argv)
{
    if (argc < 6) {
        std::printf("usage: cabtool extract CABINET DEST MASK OPTIONS [run] [notify] [owner] [gui]\n");
        return 2;
    }
    HWND owner = nullptr;
    if (Has(argc, argv, 6, "owner")) {
        owner = CreateWindowExA(0, "STATIC", "CabOwner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 120, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    bool gui = Has(argc, argv, 6, "gui");
    if (gui && GuiInit("")) {
        GuiSetCaption(L"CabTool");
        GuiShow(GuiMode::Install);
        GuiSetRange(0, 1000, 0);
        GuiSetBusy(1);
    }

    std::string result = "ok", runList, fileList;
    int count = 0;
    DWORD elapsed = 0;
    bool notify = Has(argc, argv, 6, "notify");
    {
        TUnCab uncab;
        TCabNotify collector;
        uncab.SetCabinetFile(Arg(argv[2]));
        uncab.SetDestination(Arg(argv[3]));
        uncab.Mask = Arg(argv[4]);
        uncab.Options = static_cast<uint8_t>(std::strtoul(argv[5], nullptr, 0));
        uncab.RunAfterExtract = Has(argc, argv, 6, "run");
        uncab.OwnerWindow = gui ? GuiMessageOwner() : owner;
        if (notify)
            uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&collector);
        DWORD start = GetTickCount();
        if (SetupError error = uncab.Execute())
            result = Printed(error.Message());
        elapsed = GetTickCount() - start;
        count = uncab.ExtractedCount();
        runList = Printed(uncab.RunList());
        fileList = Printed(collector.FileList);
    }
    if (gui)
        GuiDone();
    if (owner)
        DestroyWindow(owner);

    std::printf("result: %s\ncount: %d\nrunlist: %s\nelapsed: %lu\n", result.c_str(), count,
                Visible(runList).c_str(), static_cast<unsigned long>(elapsed));
    if (notify)
        std::printf("filelist: %s\n", Visible(fileList).c_str());
    // Out now, not on the runtime's way out of the process: the report is
    // what the test reads.
    std::fflush(stdout);
    return result == "ok" ? 0 : 1;
}

int MakeCab(int argc, char** argv)
{
    std::vector<TestEntry> entries;
    for (int i = 3; i < argc; ++i) {
        std::string entry = argv[i];
        std::string::size_type a = entry.find(':');
        std::string::size_type b = a == std::string::npos ? a : entry.find(':', a + 1);
        if (b == std::string::npos) {
            std::printf("bad entry: %s\n", argv[i]);
            return 2;
        }
        TestEntry e;
        e.name = entry.substr(0, a);
        e.attribs = static_cast<uint16_t>(std::strtoul(entry.substr(a + 1, b - a - 1).c_str(), nullptr, 0));
        std::string data = entry.substr(b + 1);
        e.data = !data.empty() && data[0] == '@' ? ReadAll(data.substr(1)) : data;
        entries.push_back(e);
    }
    return WriteAll(argv[2], MakeCabinet(entries)) ? 0 : 1;
}

int MakeSet(char** argv)
{
    std::string folder = argv[2];
    TestEntry one, span, two;
    one.name = "one.txt";
    one.data = "1";
    span.name = "span.bin";
    span.data.assign(70000, 's');
    two.name = "two.txt";
    two.data = "2";
    TestCabinetSet set = MakeCabinetSet({one}, span, {two}, "set1.cab", "set2.cab");
    return WriteAll(folder + "\\set1.cab", set.first) && WriteAll(folder + "\\set2.cab", set.second) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "extract")
        return Extract(argc, argv);
    if (command == "makecab" && argc >= 3)
        return MakeCab(argc, argv);
    if (command == "makeset" && argc >= 3)
        return MakeSet(argv);
    if (command == "attrib") {
        for (int i = 2; i < argc; ++i)
            std::printf("%s: 0x%02lx\n", argv[i], static_cast<unsigned long>(GetFileAttributesA(argv[i])));
        return 0;
    }
    std::printf("usage: cabtool extract|makecab|makeset ...\n");
    return 2;
}
