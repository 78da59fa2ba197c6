// Drives the user-interface operations the way an installation or a removal
// does, for the window tests and the screenshots.
//
//   uidriver install <stopfile>   runs an installation's calls; once the
//                                 extraction is under way with an estimate,
//                                 writes "<stopfile>.ready" and holds (still
//                                 processing messages) until <stopfile>
//                                 exists; then finishes. Exit 0, or 3 when
//                                 the user aborted.
//   uidriver remove <stopfile>    the same for a removal (the other icon)
//   uidriver license <name> <file> [mode]
//                                 shows the progress window in mode 0 (or
//                                 the mode given) and asks for the license;
//                                 exit 1 accepted, 0 declined
#include <windows.h>

#include <string>

#include "services/SetupError.h"
#include "ui/uGUI.h"

namespace {

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// Steps of 0 with pauses: the window stays responsive while we wait.
void HoldFor(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        GuiStep(0);
        Sleep(20);
    }
}

void HoldUntil(const std::string& stopFile)
{
    Touch(stopFile + ".ready");
    while (!Exists(stopFile)) {
        GuiStep(0);
        Sleep(20);
    }
}

int Work(bool install, const std::string& stopFile)
{
    const char* caption = install ? "Setup" : "Uninstall";
    GuiShow(install ? 0 : 1);
    GuiSetStatus("Starting...", "");
    GuiSetCaption(caption);
    const char* longText = install
        ? "Setup is installing Example Product 2.1 into the folder \"C:\\Program Files\\Example\\Product\". "
          "Please wait while the files are copied; this may take a few minutes."
        : "Example Product 2.1 is being removed from your computer. Please wait while its files, shortcuts "
          "and folders are deleted.";
    GuiSetStatus(install ? "Copying installation files..." : "Removing files...", longText);
    const int files = 40;
    GuiSetRange(0, files, 0);
    GuiSetBusy(1);
    try {
        for (int i = 0; i < files; ++i) {
            if (i == 14)
                HoldFor(6500); // long enough for a first estimate
            if (i == 16)
                HoldUntil(stopFile);
            GuiStep(1);
            Sleep(30);
        }
    } catch (const SetupError&) {
        GuiSetBusy(0);
        GuiSetStatus("Failed", "");
        return 3;
    }
    GuiSetBusy(0);
    GuiSetStatus("Done", "");
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 3)
        return 2;
    std::string command = __argv[1];
    if (!GuiInit(""))
        return 4;
    int result = 2;
    if (command == "install" || command == "remove") {
        result = Work(command == "install", __argv[2]);
    } else if (command == "license" && __argc >= 4) {
        GuiSetCaption("Setup");
        GuiShow(__argc >= 5 ? atoi(__argv[4]) : 0);
        GuiSetStatus("Starting...", "Setup is asking for the license agreement.");
        result = GuiLicense(__argv[2], __argv[3]) ? 1 : 0;
    }
    GuiDone();
    return result;
}
