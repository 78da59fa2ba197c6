// The uninstallation sequence: as a rule it runs in the relaunched copy in
// the temporary folder, so that it can delete the uninstaller the user
// started.
#include <windows.h>
#include <shlobj.h>

#include "loader/CommandLine.h"
#include "loader/Messages.h"
#include "loader/Outcome.h"
#include "loader/Places.h"
#include "loader/Registration.h"
#include "loader/RunControl.h"
#include "loader/Sequences.h"
#include "package/PathRules.h"
#include "package/TextLists.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/Services.h"
#include "services/Text.h"
#include "ui/uGUI.h"

namespace {

// Deletes one listed file, asking the user to close it while it is in use.
// Cancelled when the user gives up: the run then ends quietly. Any other
// failure (a medium that cannot be written, access denied) is not asked
// about again: the file stays, and the first such failure goes into the
// final report.
Outcome DeleteListedFile(const WString& path, WString& failure)
{
    if (!IsExistingFile(path)) {
        Log("Missing ", path);
        return Outcome::Done;
    }
    // Clears read-only, hidden and system so the delete is not refused.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    while (!DeleteFileW(path.c_str())) {
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
            const WString text = FileErrorText("delete", path, error);
            Log("", text);
            if (failure.empty())
                failure = text;
            return Outcome::Done;
        }
        WString text = WFormat("The file \"%s\" is in use.\r\nPlease close it and try again.", {path});
        if (ShowMessage(kUninstallCaption, text, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            return Outcome::Cancelled;
    }
    Log("Deleted ", path);
    return Outcome::Done;
}

// Main work, under the failure handler. The InstalledFileList is the
// payload: read whole, right after the ShortcutList. root: the install
// folder with its "\\".
StepResult DeleteInstalledFiles(PackageReader& package, const WString& root, WString& fileList, WString& failure)
{
    if (!ReadInstalledFileList(package, fileList)) {
        ReportDamaged(kUninstallCaption);
        return Outcome::Damaged;
    }
    const PackageRecord& record = package.Record();
    Log("File list checked");
    GuiShow(GuiMode::Uninstall);
    ShowCaption(kUninstallCaption);
    ShowStatus("", ReadyToProceedText(kUninstallCaption));
    GuiSetBusy(true);
    ShowStatus("Deleting files...", "");
    GuiSetRange(0, static_cast<int>(package.Header().FileCount() + 2), 0);

    const bool relative = record.Asks(kAskSubFolders);
    WString rest = fileList;
    WString name;
    while (TakeListEntry(rest, name)) {
        if (SetupError error = GuiStep(1))
            return error;
        const WString path = ListedPath(root, name, relative);
        if (DeleteListedFile(path, failure) == Outcome::Cancelled)
            return Outcome::Cancelled;
        // Then each of its folders that is left empty: once the last listed
        // name below a folder has gone, every folder below it has had its
        // turn.
        if (relative)
            RemoveEmptyFolders(root, path);
        PauseForWindows(15);
    }

    GuiSetBusy(false);
    return GuiStep(1);
}

// The relaunched copy deletes the file named on its command line only when
// that file is the uninstaller it was copied from: the same bytes as its
// own. On each try the file is held from the comparison to its deletion.
// The started uninstaller lets go of its image a moment after starting us,
// and until then the open or the delete is refused: both are tried again.
bool DeleteStartedUninstaller(const WString& path, HANDLE ownFile)
{
    if (!IsExistingFile(path))
        return false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt)
            Sleep(200);
        UniqueHandle file(
            CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file.Valid()) {
            if (!SameContent(file.Get(), ownFile))
                return false; // another file at that name: never ours to delete
            if (DeleteOpenFile(file.Get()))
                return true;
        }
        Log("Not yet deleted: ", path);
    }
    return false;
}

// A folder is removed only when an installed file lay in it: for a list of
// names relative to the install folder, when it is the install folder.
bool HeldInstalledFile(const PackageReader& package, const WString& fileList, const WString& folder,
                       const WString& installFolder)
{
    if (package.Record().Asks(kAskSubFolders))
        return lstrcmpiW(folder.c_str(), installFolder.c_str()) == 0;
    WString list = fileList;
    WString path;
    while (TakeListEntry(list, path))
        if (lstrcmpiW(FolderOf(path).c_str(), folder.c_str()) == 0)
            return true;
    return false;
}

} // namespace

StepResult RunUninstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own)
{
    // The copy in Temp cannot delete itself while it runs, nor can the
    // uninstaller it deletes: Windows removes it at its next start.
    if (call.Relaunched)
        Log(MoveFileExW(own.Path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? "Removed when Windows starts next: "
                                                                                 : "Cannot have Windows remove ",
            own.Path);
    const String& shortcutList = own.Reader.ShortcutList();
    WString fileList;
    WString failure; // the first file that could not be deleted, and why
    Outcome outcome = Outcome::Failed;
    // Names relative to the install folder are found where the package
    // installs, whatever the command line names as the started uninstaller.
    const WString installFolder = InstallFolderPath(folders.ProgramFiles, own.Reader);
    // A failed removal leaves the folders as they are.
    SetupError error = UnderFailureHandler(
        [&] {
            StepResult step = DeleteInstalledFiles(own.Reader, WithBackslash(installFolder), fileList, failure);
            outcome = step.outcome;
            return std::move(step.error);
        },
        [] {});
    if (error)
        return error;
    if (outcome != Outcome::Done)
        return outcome;

    ShowStatus("Removing icons...", "");

    WString folderToCheck;
    if (!shortcutList.empty()) {
        WString group = ShortcutGroup(folders.Programs, own.Reader);
        RemoveShortcuts(own.Reader, group);
        folderToCheck = group;
    }
    if (own.Reader.Record().Asks(kAskAppsEntry))
        UnregisterProduct(own.Reader);

    // A listed file that stays for a reason other than the user's is a failed
    // removal, though the run went to its end.
    const Outcome result = failure.empty() ? Outcome::Done : Outcome::Failed;
    WString productFolder;
    bool startedRemoved = false;
    if (call.Relaunched) {
        // The started uninstaller goes only once it has ended.
        TellStarter(call, result);
        startedRemoved = DeleteStartedUninstaller(call.StartedUninstaller, own.File.Get());
        Log(startedRemoved ? "Deleted " : "Cannot delete ", call.StartedUninstaller);
        productFolder = FolderOf(call.StartedUninstaller);
        if (startedRemoved && HeldInstalledFile(own.Reader, fileList, productFolder, installFolder)) {
            RemoveInstallFolders(productFolder, !own.Reader.Text(HeaderText::CompanyFolder).empty());
            SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, productFolder.c_str(), nullptr);
        }
    } else {
        // The copy could not be started: this process is the uninstaller, and
        // it and its folder stay.
        productFolder = FolderOf(own.Path);
    }
    if (shortcutList.empty())
        folderToCheck = productFolder;

    if (SetupError error = GuiStep(1))
        return error;
    ShowStatus("Uninstalled successfuly", "Uninstall has completed all tasks and has processed all settings "
                                          "nessecery. The process result status is shown bellow.");
    PauseForWindows(200);

    if (call.Silent)
        return result;
    if (!failure.empty() || !startedRemoved || IsExistingFolder(productFolder) || IsExistingFolder(folderToCheck)) {
        WString text = WidenAscii("Uninstall completed successfuly, but some application components are not removed.");
        if (!failure.empty())
            text = WFormat("%s\r\n\r\n%s.", {text, failure});
        ShowMessage(kUninstallCaption, text, MB_ICONINFORMATION);
    } else {
        ShowMessage(kUninstallCaption,
                    WFormat("Uninstall of %s has been completed successfuly!", {own.Reader.Text(HeaderText::ProductName)}),
                    MB_ICONINFORMATION);
    }
    return result;
}
