#include "loader/Loader.h"

#include <windows.h>
#include <shlobj.h>

#include "loader/CommandLine.h"
#include "loader/Outcome.h"
#include "loader/Places.h"
#include "loader/RunControl.h"
#include "loader/RunState.h"
#include "package/PackageDigest.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/Sha256.h"
#include "services/Text.h"

namespace {

// The package read from the own file is the one the running image names
// (package/PackageDigest.h): the image is what Windows started and checked
// the signature of, the file is only what its name leads to now. An image
// without a digest takes the file's package as it is.
bool IsImagesPackage(OwnPackage& own)
{
    const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const PackageDigest expected = PackageDigest::Decode(image + kDigestSlotOffset);
    if (!expected.present)
        return true;
    Sha256 hash;
    auto take = [&hash](const unsigned char* bytes, std::size_t count) { hash.Add(bytes, count); };
    unsigned char got[kDigestSize];
    if (ReadDigestedBytes(own.Source, own.Reader.Marker(), take) && hash.Final(got) && expected.Same(got))
        return true;
    Log("The package differs from the digest in the running image: ", own.Path);
    return false;
}

// The marker and the header, before anything is shown. Done when the run
// may go on. I/O errors never end the run here: a failed open or read leaves the
// marker zero, which reads as a bare stub. A package that asks for what this
// stub does not know, or names a code page the system lacks, is not
// served by halves: it counts as damaged.
Outcome CheckPackage(OwnPackage& own)
{
    PackageReader& package = own.Reader;
    StepOutcome outcome = package.ReadMarker();
    if (outcome == StepOutcome::BareStub) {
        ShowBox(nullptr, "Loader", WidenAscii("Please, run TAVO.EXE for details."), MB_ICONINFORMATION);
        return Outcome::Damaged;
    }
    const PackageRecord& record = package.Record();
    if (outcome == StepOutcome::Passed && record.present &&
        ((record.asks & ~kKnownAsks) || (record.codePage && !IsValidCodePage(record.codePage))))
        outcome = StepOutcome::HeaderMagic;
    if (outcome == StepOutcome::Passed && !IsImagesPackage(own))
        outcome = StepOutcome::HeaderMagic;
    if (outcome == StepOutcome::Passed)
        outcome = package.ReadHeader();
    if (outcome != StepOutcome::Passed) {
        // Before the mode is known the box has no owner and no caption, and
        // names the own file.
        ShowBox(nullptr, nullptr, DamagedCopyText(nullptr, own.Path), MB_ICONERROR);
        return Outcome::Damaged;
    }
    return Outcome::Done;
}

// The log, when asked for, once the package has passed its checks: a run
// that was to be logged and cannot be does nothing. Its first lines tell
// how it started and what it carries.
bool StartLog(const Invocation& call, const Arguments& args, const OwnPackage& own)
{
    DWORD error = 0;
    if (call.Logged && !OpenLog(call.LogPath, error)) {
        ShowBox(nullptr, nullptr, FileErrorText("open", call.LogPath, error) + L".", MB_ICONERROR);
        return false;
    }
    WString line = own.Path;
    for (std::size_t i = 1; i < args.Count(); ++i) {
        line += L' ';
        line += args[i];
    }
    Log(sizeof(void*) == 8 ? "Start (64-bit): " : "Start (32-bit): ", line);
    Log("Switches:", WFormat("%s%s%s%s", {call.NoConfirmation ? " /SP-" : "", call.NoLicense ? " /LA-" : "",
                                          call.Silent ? " /SILENT" : "", call.Relaunched ? " /SECSUN" : ""}));
    const PackageHeader& header = own.Reader.Header();
    Log("Package checked: ", WFormat("%s, %s, %d files", {own.Reader.Text(HeaderText::ProductName),
                                                          header.UninstallMode() ? "uninstaller" : "installer",
                                                          header.FileCount()}));
    return true;
}

// The folders the run writes to or removes from, before anything is
// written: Program Files for an installer and for an uninstaller whose list
// is relative to the install folder, the Start menu's Programs for a
// package with shortcuts: the all-users one when the package asks for it.
bool FindShellFolders(const PackageReader& package, ShellFolders& folders)
{
    const PackageHeader& header = package.Header();
    folders = ShellFolders{ShellFolder(CSIDL_PROGRAM_FILES), ProgramsOf(package)};
    const bool installs = !header.UninstallMode() || package.Record().Asks(kAskSubFolders);
    const char* missing = installs && folders.ProgramFiles.empty() ? "Program Files"
                          : header.ShortcutListSize() && folders.Programs.empty() ? "Programs"
                                                                                  : nullptr;
    if (!missing)
        return true;
    ShowBox(nullptr, nullptr, WFormat("The %s folder cannot be found. Nothing has been changed.", {missing}),
            MB_ICONERROR);
    return false;
}

// Everything the own file is open for: it closes as this returns, before
// the clean-up.
StepResult CheckAndRun(Invocation call, const Arguments& args, OwnPackage& own, TempFiles& temp)
{
    const Outcome checked = CheckPackage(own);
    if (checked != Outcome::Done)
        return checked;
    // "/QUIET" is a switch of the packages that ask for it; any other runs
    // as described, with its boxes.
    call.Quiet = call.Quiet && own.Reader.Record().Asks(kAskUnattended);
    ShowNoBoxes(call.Quiet);
    call.NoConfirmation |= call.Quiet;
    call.NoLicense |= call.Quiet;
    call.Silent |= call.Quiet;
    if (!StartLog(call, args, own))
        return Outcome::Failed;
    ShellFolders folders;
    if (!FindShellFolders(own.Reader, folders))
        return Outcome::Failed;
    return RunControl(call, folders, own, temp);
}

} // namespace

StepResult RunSetup(WString ownPath, const Arguments& args)
{
    Invocation call = ReadCommandLine(args);
    // The relaunched copy's own file comes as its standard input
    // (StartCheckedCopy). A "/SECSUN" run handed no file was started by
    // somebody else: it runs as the uninstaller the user started.
    HANDLE handed = nullptr;
    if (call.Relaunched) {
        handed = GetStdHandle(STD_INPUT_HANDLE);
        if (GetFileType(handed) != FILE_TYPE_DISK) {
            handed = nullptr;
            call.Relaunched = false;
        }
    }
    // Whatever the package turns out to be, a damaged copy is no reason to
    // show a box to an unattended run.
    ShowNoBoxes(call.Quiet);
    TempFiles temp;
    StepResult result = Outcome::Failed;
    {
        // Opened first, by the name of the very image that runs (or handed),
        // and closed before the clean-up.
        OwnPackage own(static_cast<WString&&>(ownPath), handed);
        result = CheckAndRun(call, args, own, temp);
    }
    // An error passes through the closing clean-up on its way to the entry.
    FinalCleanup(temp);
    // Unattended, nobody cancels: a question answered for the machine that
    // ended the run is a failure.
    if (!ShowsBoxes() && result.outcome == Outcome::Cancelled)
        result.outcome = Outcome::Failed;
    TellStarter(call, result.outcome);
    return result;
}
