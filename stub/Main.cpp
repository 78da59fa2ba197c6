// Program entry of the setup stub: its own, without the C runtime's start-up
// (the linker names SetupEntry as the image's entry). The C library is the
// system's, which sets itself up when it loads.
#include <windows.h>

#include "loader/CommandLine.h"
#include "loader/Loader.h"
#include "services/Log.h"
#include "services/SetupError.h"
#include "services/Text.h"

namespace {

String OwnExecutablePath()
{
    char buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return String(buffer, n < MAX_PATH ? n : 0);
}

void ShowInternalError(const String& message)
{
    // The last resort: no owner, no caption, the windows are already gone.
    String text = "Internal Error: " + message + ".\r\n\r\nSetup will be terminated.";
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
    StepResult result = RunSetup(OwnExecutablePath(), SplitCommandLine(GetCommandLineA()));
    if (result.error)
        ShowInternalError(result.error.Message());
    // Deployment tools read this; the README lists the codes.
    const int code = ExitCodeOf(result.outcome);
    Log("Exit code ", Format("%d", {code}));
    ExitProcess(static_cast<UINT>(code));
}
