#include "loader/Loader.h"

#include <windows.h>
#include <shlobj.h>

#include "loader/Checks.h"
#include "loader/Outcome.h"
#include "loader/RunControl.h"
#include "loader/RunState.h"

namespace {

std::string ShellFolder(int csidl)
{
    // The result is not tested: a failure leaves the buffer empty and the
    // later folder operations fail on their own.
    char buffer[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, buffer);
    return buffer;
}

// The marker and the header, before anything is shown. True when the run
// may go on. I/O errors never end the run with an error here: a failed open or read leaves the
// marker zero, which reads as a bare stub.
bool CheckPackage(PackageReader& package, const std::string& ownPath)
{
    StepOutcome outcome = package.ReadMarker();
    if (outcome == StepOutcome::BareStub) {
        MessageBoxA(nullptr, "Please, run TAVO.EXE for details.", "Loader", MB_ICONINFORMATION);
        return false;
    }
    if (outcome == StepOutcome::Passed)
        outcome = package.ReadHeader();
    if (outcome != StepOutcome::Passed) {
        // Before the mode is known the box has no owner and no caption, and
        // names the own file.
        MessageBoxA(nullptr, DamagedCopyText(std::string(), ownPath).c_str(), nullptr, MB_ICONERROR);
        return false;
    }
    return true;
}

// Everything the own file is open for: it closes as this returns, before
// the clean-up.
SetupError CheckAndRun(const Invocation& call, const ShellFolders& folders, TempFiles& temp)
{
    OwnPackage own(call.OwnPath);
    if (CheckPackage(own.Reader, call.OwnPath))
        return RunControl(call, folders, own, temp);
    return SetupError();
}

} // namespace

SetupError RunSetup(const std::string& ownPath, const std::vector<std::string>& args)
{
    const Invocation call = ReadCommandLine(ownPath, args);
    const ShellFolders folders{ShellFolder(CSIDL_PROGRAM_FILES), ShellFolder(CSIDL_PROGRAMS)};
    TempFiles temp;
    // An error passes through the closing clean-up on its way to the entry.
    SetupError error = CheckAndRun(call, folders, temp);
    FinalCleanup(temp);
    return error;
}
