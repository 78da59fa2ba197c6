#include "loader/Loader.h"

#include <windows.h>
#include <shlobj.h>

#include "loader/CommandLine.h"
#include "loader/Outcome.h"
#include "loader/Places.h"
#include "loader/RunControl.h"
#include "loader/RunState.h"
#include "services/Log.h"
#include "services/Text.h"

namespace {

String ShellFolder(int csidl)
{
    // The result is not tested: a failure leaves the buffer empty and the
    // later folder operations fail on their own.
    char buffer[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, buffer);
    return buffer;
}

// The marker and the header, before anything is shown. Done when the run
// may go on. I/O errors never end the run here: a failed open or read leaves the
// marker zero, which reads as a bare stub.
Outcome CheckPackage(PackageReader& package, const String& ownPath)
{
    StepOutcome outcome = package.ReadMarker();
    if (outcome == StepOutcome::BareStub) {
        Log("No package: a bare stub");
        MessageBoxA(nullptr, "Please, run TAVO.EXE for details.", "Loader", MB_ICONINFORMATION);
        return Outcome::Damaged;
    }
    if (outcome == StepOutcome::Passed)
        outcome = package.ReadHeader();
    if (outcome != StepOutcome::Passed) {
        // Before the mode is known the box has no owner and no caption, and
        // names the own file.
        const String text = DamagedCopyText(String(), ownPath);
        Log("", text);
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
        return Outcome::Damaged;
    }
    const PackageHeader& header = package.Header();
    Log("Package checked: ", Format("%s, %s, %d files", {HeaderString(header, HeaderText::ProductName),
                                                         header.UninstallMode() ? "uninstaller" : "installer",
                                                         header.FileCount()}));
    return Outcome::Done;
}

// Everything the own file is open for: it closes as this returns, before
// the clean-up.
StepResult CheckAndRun(const Invocation& call, const ShellFolders& folders, TempFiles& temp)
{
    OwnPackage own(call.OwnPath);
    const Outcome checked = CheckPackage(own.Reader, call.OwnPath);
    if (checked != Outcome::Done)
        return checked;
    return RunControl(call, folders, own, temp);
}

// The log, when asked for, before anything else: a run that was to be
// logged and cannot be does nothing. Its first lines tell how it started.
bool StartLog(const Invocation& call, const Arguments& args)
{
    DWORD error = 0;
    if (call.Logged && !OpenLog(call.LogPath, error)) {
        MessageBoxA(nullptr, (FileErrorText("open", call.LogPath, error) + ".").c_str(), nullptr, MB_ICONERROR);
        return false;
    }
    String line = call.OwnPath;
    for (std::size_t i = 1; i < args.Count(); ++i) {
        line += ' ';
        line += args[i];
    }
    Log(sizeof(void*) == 8 ? "Start (64-bit): " : "Start (32-bit): ", line);
    Log("Switches:", Format("%s%s%s%s", {call.NoConfirmation ? " /SP-" : "", call.NoLicense ? " /LA-" : "",
                                         call.Silent ? " /SILENT" : "", call.Relaunched ? " /SECSUN" : ""}));
    return true;
}

} // namespace

StepResult RunSetup(const String& ownPath, const Arguments& args)
{
    const Invocation call = ReadCommandLine(ownPath, args);
    if (!StartLog(call, args))
        return Outcome::Failed;
    const ShellFolders folders{ShellFolder(CSIDL_PROGRAM_FILES), ShellFolder(CSIDL_PROGRAMS)};
    TempFiles temp;
    // An error passes through the closing clean-up on its way to the entry.
    StepResult result = CheckAndRun(call, folders, temp);
    FinalCleanup(temp);
    return result;
}
