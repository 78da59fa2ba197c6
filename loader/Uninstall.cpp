// The uninstallation sequence: as a rule it runs in the relaunched copy in
// the temporary folder, so that it can delete the uninstaller the user
// started.
#include <windows.h>
#include <shlobj.h>

#include "loader/Checks.h"
#include "loader/Messages.h"
#include "loader/RunControl.h"
#include "loader/Sequences.h"
#include "package/CRC32.h"
#include "package/TextLists.h"
#include "services/Services.h"
#include "services/Text.h"
#include "ui/uGUI.h"

namespace {

// The InstalledFileList is the payload: read whole, in one read, right after
// the ShortcutList.
bool ReadFileList(RunState& run)
{
    const uint32_t size = run.Header.PayloadSize();
    std::string list(size, '\0');
    DWORD got = size ? ReadBytes(run.OwnFile.Get(), &list[0], size) : 0;
    list.resize(got);
    run.FileList = std::move(list);
    return got == size && Crc32Of(run.FileList.data(), run.FileList.size()) == run.Header.PayloadCrc();
}

// Deletes one listed file, asking the user to close it while it is in use.
// False when the user gives up: the run then ends quietly. Any other failure
// (a medium that cannot be written, access denied) is not asked about again:
// the file stays, and the first such failure goes into the final report.
bool DeleteListedFile(const RunState& run, const std::string& path, std::string& failure)
{
    if (!IsExistingFile(path))
        return true;
    // Clears read-only, hidden and system so the delete is not refused.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    while (!DeleteFileA(path.c_str())) {
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
            if (failure.empty())
                failure = FileErrorText("delete", path, error);
            return true;
        }
        std::string text = Format("The file \"%s\" is in use.\r\nPlease close it and try again.", {path});
        if (ShowMessage(run, text, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            return false;
    }
    return true;
}

// Main work, under the failure handler. False when the run ends early.
bool DeleteInstalledFiles(RunState& run, std::string& failure)
{
    run.InstallFolderPath = FolderOf(run.OwnPath);
    if (!ReadFileList(run)) {
        ShowMessage(run, DamagedCopyText(run.ModeCaption, run.OwnPath), MB_ICONERROR);
        return false;
    }
    const bool gui = GuiActive();
    if (gui) {
        GuiShow(1);
        GuiSetCaption("Uninstall");
        ShowStatus("", ReadyToProceedText("Uninstall"));
        GuiSetBusy(1);
        ShowStatus("Deleting files...", "");
        GuiSetRange(0, static_cast<int>(run.Header.FileCount() + 2), 0);
    }

    std::string list = run.FileList;
    std::string path;
    while (TakeListEntry(list, path)) {
        if (GuiActive())
            GuiStep(1);
        if (!DeleteListedFile(run, path, failure))
            return false;
        Sleep(15);
    }

    if (GuiActive()) {
        GuiSetBusy(0);
        GuiStep(1);
    }
    return true;
}

// The relaunched copy deletes the file named on its command line only when
// that file is the uninstaller it was copied from: the same bytes as its
// own. The file is held from the comparison to its deletion. The started
// uninstaller lets go of it a moment after starting us, hence the retries.
bool DeleteStartedUninstaller(const RunState& run, const std::string& path)
{
    if (!IsExistingFile(path))
        return false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        UniqueHandle file(
            CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file.Valid())
            return SameContent(file.Get(), run.OwnFile.Get()) && DeleteOpenFile(file.Get());
        Sleep(200);
    }
    return false;
}

// A folder is removed only when an installed file lay in it.
bool HeldInstalledFile(const RunState& run, const std::string& folder)
{
    std::string list = run.FileList;
    std::string path;
    while (TakeListEntry(list, path))
        if (lstrcmpiA(FolderOf(path).c_str(), folder.c_str()) == 0)
            return true;
    return false;
}

} // namespace

void RunUninstallation(RunState& run)
{
    bool finished = false;
    std::string failure; // the first file that could not be deleted, and why
    UnderFailureHandler(run, [&] { finished = DeleteInstalledFiles(run, failure); });
    if (!finished)
        return;

    if (GuiActive())
        ShowStatus("Removing icons...", "");

    std::string folderToCheck;
    if (!run.ShortcutList.empty()) {
        std::string group = Format("%s\\%s", {run.ProgramsFolder, run.Header.StartMenuFolder()});
        RemoveShortcuts(run, group);
        folderToCheck = group;
    }

    std::string productFolder;
    bool startedRemoved = false;
    if (run.Relaunched) {
        const std::string started = run.Args.size() > 2 ? run.Args[2] : std::string();
        startedRemoved = DeleteStartedUninstaller(run, started);
        productFolder = FolderOf(started);
        if (startedRemoved && HeldInstalledFile(run, productFolder)) {
            RemoveInstallFolders(run, productFolder);
            SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, productFolder.c_str(), nullptr);
        }
    } else {
        // The copy could not be started: this process is the uninstaller, and
        // it and its folder stay.
        productFolder = FolderOf(run.OwnPath);
    }
    if (run.ShortcutList.empty())
        folderToCheck = productFolder;

    if (GuiActive()) {
        GuiStep(1);
        ShowStatus("Uninstalled successfuly", "Uninstall has completed all tasks and has processed all settings "
                                          "nessecery. The process result status is shown bellow.");
    }
    Sleep(200);

    if (HasSwitch(run.Args, "/SILENT"))
        return;
    if (!failure.empty() || !startedRemoved || IsExistingFolder(productFolder) || IsExistingFolder(folderToCheck)) {
        std::string text = "Uninstall completed successfuly, but some application components are not removed.";
        if (!failure.empty())
            text = Format("%s\r\n\r\n%s.", {text, failure});
        ShowMessage(run, text, MB_ICONINFORMATION);
    } else {
        ShowMessage(run, Format("Uninstall of %s has been completed successfuly!", {run.Header.ProductName()}),
                    MB_ICONINFORMATION);
    }
}
