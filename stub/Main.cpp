// Program entry of the setup stub.
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "loader/Loader.h"
#include "services/Log.h"
#include "services/SetupError.h"
#include "services/Text.h"

namespace {

std::string OwnExecutablePath()
{
    char buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n < MAX_PATH ? n : 0);
}

void ShowInternalError(const std::string& message)
{
    // The last resort: no owner, no caption, the windows are already gone.
    std::string text = "Internal Error: " + message + ".\r\n\r\nSetup will be terminated.";
    Log("", text);
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
}

// An installer runs from a download folder and an uninstaller's copy from
// Temp, where anybody may put a DLL: every DLL loaded from here on comes
// from the system folder. The static imports are system DLLs that the
// loader takes from there anyway; the rest is loaded by LoadSystemLibrary.
void KeepDllsToTheSystemFolder()
{
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    // Missing on systems without the update that brought it.
    auto setDefault = reinterpret_cast<SetDirectories>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    const DWORD kSearchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (setDefault)
        setDefault(kSearchSystem32);
    SetDllDirectoryA(""); // and never the current folder
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    KeepDllsToTheSystemFolder();
    std::vector<std::string> args;
    for (int i = 0; i < __argc; ++i)
        args.push_back(__argv[i]);
    Outcome outcome = Outcome::Failed;
    try {
        outcome = RunSetup(OwnExecutablePath(), args);
    } catch (const SetupError& e) {
        ShowInternalError(e.Message());
        if (e.ByUser())
            outcome = Outcome::Cancelled;
    } catch (const std::bad_alloc&) {
        ShowInternalError("Out of memory");
    }
    // Deployment tools read this; the README lists the codes.
    Log("Exit code ", Format("%d", {ExitCodeOf(outcome)}));
    return ExitCodeOf(outcome);
}
