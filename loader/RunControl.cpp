#include "loader/RunControl.h"

#include "loader/CommandLine.h"
#include "loader/Messages.h"
#include "loader/Outcome.h"
#include "loader/Places.h"
#include "loader/Sequences.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/Services.h"
#include "services/Text.h"
#include "ui/uGUI.h"

namespace {

void ShowCopyProgress(int done, int size) { GuiSetRange(done, size, 0); }

// An uninstaller started by the user copies itself into the temporary folder
// and lets the copy do the work, so that the copy can delete the file the
// user started. Only "/SECSUN" with the quoted own path, and the log's
// switch, reach the copy. What starts is exactly this uninstaller's bytes:
// the copy is made new, held while it is written and started, and compared
// once mapped. HandedOver: the copy runs; Failed: the user was told why it
// cannot.
StepResult RelaunchFromTemporaryCopy(const Invocation& call, const OwnPackage& own)
{
    const WString& ownPath = own.Path;
    UniqueHandle copy;
    // Written under a first name; it starts under a second one (see
    // StartCheckedCopy).
    WString copyPath;
    if (SetupError error = UniqueTempName(TempFolder(), L".tmp", copy, copyPath))
        return error;
    if (!copy.Valid() || !CopyFileWithProgress(ownPath, copy.Get(), ShowCopyProgress)) {
        if (copy.Valid()) {
            copy.Close();
            DeleteFileW(copyPath.c_str());
        }
        // The mode is not set yet, so this box has no caption.
        ShowMessage(nullptr, WFormat("Temporary file \"%s\" cannot be created!", {copyPath}), MB_ICONERROR);
        return Outcome::Failed;
    }
    if (SetupError error = GuiStep(1))
        return error;
    WString parameters = WFormat("%s \"%s\"", {"/SECSUN", ownPath});
    // The copy deletes the files: its lines belong in the same log.
    if (call.Logged)
        parameters += WFormat(" /LOG=\"%s\"", {call.LogPath});
    // Unattended, this process waits for the copy's outcome and ends with
    // it: the copy tells it through a pipe before it deletes this file.
    UniqueHandle outcomeRead, outcomeWrite;
    if (call.Quiet) {
        parameters += L" /QUIET";
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        HANDLE read, write;
        if (CreatePipe(&read, &write, &inherited, 0)) {
            outcomeRead.Reset(read);
            outcomeWrite.Reset(write);
        }
    }
    if (StartCheckedCopy(copy, copyPath, parameters, own.File.Get(), outcomeWrite.Get())) {
        Log("Started the copy ", copyPath);
        outcomeWrite.Close();
        Outcome told = Outcome::HandedOver;
        if (outcomeRead.Valid() && ReadBytes(outcomeRead.Get(), &told, sizeof told) != sizeof told)
            told = Outcome::Failed; // it ended without a word
        return told;
    }
    // The copy could not be started: this process does the work itself.
    Log("Cannot start the copy, removing from here: ", copyPath);
    DeleteFileW(copyPath.c_str());
    return Outcome::Done;
}

} // namespace

StepResult RunControl(const Invocation& call, const ShellFolders& folders, OwnPackage& own, TempFiles& temp)
{
    const PackageHeader& header = own.Reader.Header();
    const bool uninstaller = header.UninstallMode() != 0;
    const GuiMode mode = uninstaller ? GuiMode::Uninstall : GuiMode::Install;

    // Without windows the run goes on with message boxes alone; unattended,
    // with neither.
    if (!call.Quiet)
        GuiInit("");
    GuiShow(mode);
    ShowStatus("Starting...", "Please, wait until application is prepared...");

    if (uninstaller && !call.Relaunched) {
        StepResult relaunch = RelaunchFromTemporaryCopy(call, own);
        if (relaunch.outcome != Outcome::Done)
            return relaunch;
    }

    const char* caption = uninstaller ? kUninstallCaption : kSetupCaption;
    const WString& product = own.Reader.Text(HeaderText::ProductName);
    WString verbPhrase;
    UINT questionStyle;
    if (uninstaller) {
        verbPhrase = WFormat("remove %s from", {product});
        questionStyle = MB_ICONINFORMATION | MB_DEFBUTTON2;
    } else {
        verbPhrase = WFormat("install %s on", {product});
        questionStyle = MB_ICONQUESTION;
        PauseForWindows(200);
    }

    GuiShow(mode);
    ShowCaption(caption);
    ShowStatus("", ReadyToProceedText(caption));

    if (!call.NoConfirmation) {
        WString question = WFormat("This will %s your computer. Do you wish to continue?", {verbPhrase});
        if (ShowMessage(caption, question, questionStyle | MB_YESNO) != IDYES)
            return Outcome::Declined;
    }

    ShowStatus("Working...", PreparingText(caption));

    // Its CRC-32 and every record's places, and the same of the copies
    // list; a short read counts as damage.
    if (own.Reader.ReadShortcutList() != StepOutcome::Passed || own.Reader.ReadCopies() != StepOutcome::Passed) {
        ReportDamaged(caption);
        return Outcome::Damaged;
    }
    Log("Shortcut list checked");

    if (uninstaller)
        return RunUninstallation(call, folders, own);
    return RunInstallation(call, folders, own, temp);
}

void TellStarter(const Invocation& call, Outcome outcome)
{
    static bool told = false;
    HANDLE starter = GetStdHandle(STD_OUTPUT_HANDLE);
    if (told || !call.Relaunched || !call.Quiet || GetFileType(starter) != FILE_TYPE_PIPE)
        return;
    told = true;
    WriteAll(starter, &outcome, sizeof outcome);
}

namespace {

// Runs when FinalCleanup's scope ends.
class DeleteTemporaryFiles {
public:
    explicit DeleteTemporaryFiles(TempFiles& temp) : temp_(temp) {}
    ~DeleteTemporaryFiles()
    {
        // The windows (and whatever showed the license) need a moment to let
        // go of the files.
        PauseForWindows(200);
        temp_.Cabinet.Close(); // the cabinet goes with its last handle
        if (!temp_.LicensePath.empty())
            DeleteFileW(temp_.LicensePath.c_str());
        // Only the run's own folder: nothing else in Temp is touched.
        if (!temp_.LicenseFolder.empty())
            RemoveDirectoryW(temp_.LicenseFolder.c_str());
    }
    DeleteTemporaryFiles(const DeleteTemporaryFiles&) = delete;
    DeleteTemporaryFiles& operator=(const DeleteTemporaryFiles&) = delete;

private:
    TempFiles& temp_;
};

} // namespace

void FinalCleanup(TempFiles& temp)
{
    DeleteTemporaryFiles deleteLater(temp);
    GuiDone();
}
