// Program entry of the setup stub: its own, without the C runtime's start-up
// (the linker names SetupEntry as the image's entry). The C library is the
// system's, which sets itself up when it loads.
#include <windows.h>

#include "loader/CommandLine.h"
#include "loader/Loader.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/SetupError.h"
#include "services/Text.h"

namespace {

// The wide name: an ANSI one would be the best-fit mapping of it, which may
// name another file (a full-width "ｓetup.exe" maps to "setup.exe").
WString OwnExecutablePath()
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return WString(buffer, n < MAX_PATH ? n : 0);
}

void ShowInternalError(const WString& message)
{
    // The last resort: no owner, no caption, the windows are already gone.
    ShowBox(nullptr, nullptr, WFormat("Internal Error: %s.\r\n\r\nSetup will be terminated.", {message}),
            MB_ICONERROR);
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
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    const DWORD kSearchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (setDefault)
        setDefault(kSearchSystem32);
    SetDllDirectoryW(L""); // and never the current folder
}

} // namespace

// Static objects that need code to start are set up before the run, in
// their order of definition; the list is the one the linker collects. The
// process ends through ExitProcess: nothing is torn down on the way out.
extern "C" void (*__CTOR_LIST__[])();

// Kept visible: only the linker's entry option refers to it.
extern "C" __attribute__((used, externally_visible, force_align_arg_pointer, noreturn)) void SetupEntry()
{
    // The list opens with -1 (or its count) and ends with a null; it is run
    // from its end.
    std::size_t count = 1;
    while (__CTOR_LIST__[count])
        ++count;
    while (--count > 0)
        __CTOR_LIST__[count]();

    KeepDllsToTheSystemFolder();
    StepResult result = RunSetup(OwnExecutablePath(), SplitCommandLine(GetCommandLineW()));
    if (result.error)
        ShowInternalError(result.error.Message());
    // Deployment tools read this; the README lists the codes.
    const int code = ExitCodeOf(result.outcome);
    Log("Exit code ", WFormat("%d", {code}));
    ExitProcess(static_cast<UINT>(code));
}
