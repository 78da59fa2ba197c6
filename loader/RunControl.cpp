#include "loader/RunControl.h"

#include <windows.h>
#include <shlobj.h>

#include "loader/Checks.h"
#include "loader/Messages.h"
#include "loader/Sequences.h"
#include "package/CRC32.h"
#include "package/PathRules.h"
#include "package/TextLists.h"
#include "services/Services.h"
#include "services/Text.h"
#include "ui/uGUI.h"

namespace {

enum class Relaunch { Ended, RunHere };

// An uninstaller started by the user copies itself into the temporary folder
// and lets the copy do the work, so that the copy can delete the file the
// user started. Only "/SECSUN" and the quoted own path reach the copy. What
// starts is exactly this uninstaller's bytes: the copy is made new, held
// while it is written and started, and compared once mapped.
Relaunch RelaunchFromTemporaryCopy(RunState& run)
{
    UniqueHandle copy;
    // Written under a first name; it starts under a second one (see
    // StartCheckedCopy).
    run.TempCopyPath = UniqueTempName(TempFolder(), ".tmp", copy);
    if (!copy.Valid() || !CopyFileWithProgress(run.OwnPath, copy.Get())) {
        if (copy.Valid()) {
            copy.Close();
            DeleteFileA(run.TempCopyPath.c_str());
        }
        // The mode is not set yet, so this box has no caption.
        ShowMessage(run, Format("Temporary file \"%s\" cannot be created!", {run.TempCopyPath}), MB_ICONERROR);
        return Relaunch::Ended;
    }
    if (GuiActive())
        GuiStep(1);
    std::string parameters = Format("%s \"%s\"", {"/SECSUN", run.OwnPath});
    if (StartCheckedCopy(copy, run.TempCopyPath, parameters, run.OwnFile.Get()))
        return Relaunch::Ended;
    // The copy could not be started: this process does the work itself.
    DeleteFileA(run.TempCopyPath.c_str());
    run.TempCopyPath.clear();
    return Relaunch::RunHere;
}

// Every record that a sequence will use names a link inside the group and a
// target inside the install folder.
bool ShortcutsStayInside(const std::string& shortcutList)
{
    std::string list = shortcutList;
    ShortcutRecord record;
    bool target;
    while (!list.empty() && TakeShortcut(list, record))
        if (CheckShortcutRecord(record, target) != NameRule::Allowed)
            return false;
    return true;
}

// The block directly after the header, checked against its CRC-32 and its
// records' places. A short read counts as damage.
bool ReadShortcutList(RunState& run)
{
    const uint32_t size = run.Header.ShortcutListSize();
    std::string list(size, '\0');
    DWORD got = 0;
    if (SeekTo(run.OwnFile.Get(), run.Marker.StubSize + kHeaderSize))
        got = size ? ReadBytes(run.OwnFile.Get(), &list[0], size) : 0;
    if (got != size)
        return false;
    run.ShortcutList = std::move(list);
    return Crc32Of(run.ShortcutList.data(), run.ShortcutList.size()) == run.Header.ShortcutListCrc() &&
           ShortcutsStayInside(run.ShortcutList);
}

} // namespace

void RunControl(RunState& run)
{
    const bool uninstaller = run.IsUninstaller();
    const int mode = uninstaller ? 1 : 0;

    // Without windows the run goes on with message boxes alone.
    GuiInit("");
    if (GuiActive()) {
        GuiShow(mode);
        ShowStatus("Starting...", "Please, wait until application is prepared...");
    }

    if (uninstaller && !run.Relaunched && RelaunchFromTemporaryCopy(run) == Relaunch::Ended)
        return;

    UINT questionStyle;
    if (uninstaller) {
        run.ModeCaption = "Uninstall";
        run.VerbPhrase = Format("remove %s from", {run.Header.ProductName()});
        questionStyle = MB_ICONINFORMATION | MB_DEFBUTTON2;
    } else {
        run.ModeCaption = "Setup";
        run.VerbPhrase = Format("install %s on", {run.Header.ProductName()});
        questionStyle = MB_ICONQUESTION;
        Sleep(200);
    }

    if (GuiActive()) {
        GuiShow(mode);
        GuiSetCaption(ShortStr(run.ModeCaption).c_str());
        ShowStatus("", ReadyToProceedText(run.ModeCaption));
    }

    if (!HasSwitch(run.Args, "/SP-")) {
        std::string question = Format("This will %s your computer. Do you wish to continue?", {run.VerbPhrase});
        if (ShowMessage(run, question, questionStyle | MB_YESNO) != IDYES)
            return;
    }

    if (GuiActive())
        ShowStatus("Working...", PreparingText(run.ModeCaption));

    if (!ReadShortcutList(run)) {
        ShowMessage(run, DamagedCopyText(run.ModeCaption, run.OwnPath), MB_ICONERROR);
        return;
    }

    if (uninstaller)
        RunUninstallation(run);
    else
        RunInstallation(run);
}

std::string UninstallLinkName(const PackageHeader& header)
{
    switch (header.UninstallLinkStyle()) {
    case 1:
        return Format("Uninstall %s", {header.ShortName()});
    case 2:
        return Format("Uninstall %s", {header.ProductName()});
    default:
        return "Uninstall";
    }
}

void RemoveShortcuts(const RunState& run, const std::string& group)
{
    try {
        std::string list = run.ShortcutList;
        ShortcutRecord record;
        while (!list.empty() && TakeShortcut(list, record))
            DeleteFileA(Format("%s\\%s.lnk", {group, record.name}).c_str());
        if (run.Header.MakeUninstaller())
            DeleteFileA(Format("%s\\%s.lnk", {group, UninstallLinkName(run.Header)}).c_str());
        RemoveFolder(group);
        SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, group.c_str(), nullptr);
    } catch (...) {
        // A group that cannot be cleaned up is found by the final check.
    }
}

void RemoveInstallFolders(RunState& run, const std::string& path)
{
    try {
        // Gives the shell and the files just deleted time to let go.
        Sleep(200);
        const std::string folder = path.empty() ? run.InstallFolderPath : path;
        RemoveFolder(folder);
        if (!run.Header.CompanyFolder().empty()) {
            Sleep(200);
            RemoveFolder(FolderOf(folder));
        }
    } catch (...) {
    }
}

namespace {

// Runs when FinalCleanup's scope ends, also while an error from GuiDone
// passes.
class DeleteTemporaryFiles {
public:
    explicit DeleteTemporaryFiles(RunState& run) : run_(run) {}
    ~DeleteTemporaryFiles()
    {
        // The windows (and whatever showed the license) need a moment to let
        // go of the files.
        Sleep(200);
        run_.TempCabinet.Close(); // the cabinet goes with its last handle
        if (!run_.TempLicensePath.empty())
            DeleteFileA(run_.TempLicensePath.c_str());
        // Only the run's own folder: nothing else in Temp is touched.
        if (!run_.TempLicenseFolder.empty())
            RemoveDirectoryA(run_.TempLicenseFolder.c_str());
    }
    DeleteTemporaryFiles(const DeleteTemporaryFiles&) = delete;
    DeleteTemporaryFiles& operator=(const DeleteTemporaryFiles&) = delete;

private:
    RunState& run_;
};

} // namespace

void FinalCleanup(RunState& run)
{
    DeleteTemporaryFiles deleteLater(run);
    GuiDone();
}

void OnWorkFailed(RunState& run) noexcept
{
    try {
        if (GuiActive()) {
            GuiSetBusy(0);
            ShowStatus("Failed", "Setup operation was aborted with an exception. The error message is shown, "
                                "and setup will exit now.");
        }
    } catch (...) {
        // The work's own exception is the one to report.
    }
    // Before the install folder path is formed it still names Program Files.
    if (!run.IsUninstaller() && run.InstallFolderFormed)
        RemoveInstallFolders(run, run.InstallFolderPath);
}
