// The installation sequence: cabinet out of the package, license, files into
// the install folder, Start-menu shortcuts, uninstaller, marked files
// started, result reported.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "cabinet/suncab.h"
#include "loader/CabNotify.h"
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

constexpr DWORD kCopyPiece = 16384;
constexpr unsigned char kExtractOptions = ucOverwrite | ucCreateFolders; // flat, no questions

enum class Outcome { Done, Ended };

// Streams the payload into a temporary ".cab" with a running CRC-32. The
// cabinet is never held in memory. The file stays held from here to the
// clean-up: others may read it, nobody may change, replace or delete it
// between its check and the end of its extraction.
Outcome CopyCabinetOut(RunState& run)
{
    run.TempCabinetPath = UniqueTempName(TempFolder(), ".cab", run.TempCabinet, FILE_FLAG_DELETE_ON_CLOSE);
    const uint32_t size = run.Header.PayloadSize();
    uint32_t count = 0;
    uint32_t crc = Crc32Init();
    if (!run.TempCabinet.Valid()) {
        ShowMessage(run, Format("Temporary file \"%s\" cannot be created!", {run.TempCabinetPath}), MB_ICONERROR);
        return Outcome::Ended;
    }
    {
        std::vector<unsigned char> buffer(kCopyPiece);
        while (count < size) {
            // Never past the payload: bytes after it (a signature, say) are
            // not part of the cabinet.
            DWORD want = size - count < kCopyPiece ? size - count : kCopyPiece;
            DWORD got = ReadBytes(run.OwnFile.Get(), buffer.data(), want);
            if (got == 0) {
                // A medium that went away is no damaged download.
                if (GetLastError() != ERROR_HANDLE_EOF)
                    RaiseFileError("read", run.OwnPath, GetLastError());
                break;
            }
            // A full Temp folder ends the run like any other failed write;
            // the clean-up's close deletes what was copied.
            if (!WriteAll(run.TempCabinet.Get(), buffer.data(), got))
                RaiseFileError("write", run.TempCabinetPath, GetLastError());
            crc = Crc32Update(crc, buffer.data(), got);
            count += got;
        }
    }
    if (count != size || Crc32Final(crc) != run.Header.PayloadCrc()) {
        ShowMessage(run, DamagedCopyText(run.ModeCaption, run.OwnPath), MB_ICONERROR);
        return Outcome::Ended;
    }
    return Outcome::Done;
}

// Ends the process that shows the license text once the user has answered.
class LicenseViewer {
public:
    explicit LicenseViewer(UniqueHandle process) : process_(std::move(process)) {}
    ~LicenseViewer()
    {
        if (process_.Valid())
            TerminateProcess(process_.Get(), 0);
    }
    LicenseViewer(const LicenseViewer&) = delete;
    LicenseViewer& operator=(const LicenseViewer&) = delete;

private:
    UniqueHandle process_;
};

} // namespace

// Without windows the license opens in its default program, and a plain
// question asks for the answer.
bool ConfirmLicenseWithoutGui(const RunState& run)
{
    LicenseViewer viewer(LaunchProgram(run.TempLicensePath, "", 20000));
    std::string question = Format("Do you accept %s License agreement terms?", {run.Header.ShortName()});
    return ShowMessage(run, question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

namespace {

Outcome AcceptLicense(RunState& run)
{
    const std::string licenseFile = run.Header.LicenseFile();
    if (HasSwitch(run.Args, "/LA-") || licenseFile.empty())
        return Outcome::Done;
    // A folder of this run's own keeps the file's own name for whatever
    // shows it, and leaves everything else in Temp alone.
    std::string folder;
    if (!UniqueTempFolder(TempFolder(), folder)) {
        ShowMessage(run, Format("Temporary file \"%s\" cannot be created!", {folder}), MB_ICONERROR);
        return Outcome::Ended;
    }
    run.TempLicenseFolder = folder;
    run.TempLicensePath = folder + "\\" + licenseFile;
    if (GuiActive())
        ShowStatus("Accepting agreement...", "");
    int extracted;
    {
        TUnCab cab;
        cab.OwnerWindow = GuiMessageOwner();
        cab.Mask = licenseFile; // a plain name: the package checks refuse wildcards
        cab.Options = kExtractOptions;
        cab.RunAfterExtract = false; // the license is read, never started
        cab.SetCabinetFile(run.TempCabinetPath);
        cab.SetDestination(folder);
        cab.Execute();
        extracted = cab.ExtractedCount();
    }
    // A package whose license is not in its cabinet is not what its maker
    // built.
    if (extracted == 0) {
        ShowMessage(run, DamagedCopyText(run.ModeCaption, run.OwnPath), MB_ICONERROR);
        return Outcome::Ended;
    }
    bool accepted = GuiActive()
                        ? GuiLicense(ShortStr(run.Header.ShortName()).c_str(), ShortStr(run.TempLicensePath).c_str())
                        : ConfirmLicenseWithoutGui(run);
    return accepted ? Outcome::Done : Outcome::Ended;
}

void ExtractFiles(RunState& run)
{
    TCabNotify notify;
    try {
        TUnCab cab;
        cab.OwnerWindow = GuiMessageOwner();
        cab.Mask = "*.*";
        cab.Options = kExtractOptions;
        cab.RunAfterExtract = false;
        cab.SetCabinetFile(run.TempCabinetPath);
        cab.SetDestination(run.InstallFolderPath);
        cab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
        cab.Execute();
        run.RunList = cab.RunList();
        SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, run.InstallFolderPath.c_str(), nullptr);
    } catch (...) {
        // What was announced so far is what the failure leaves behind.
        run.FileList = notify.FileList;
        throw;
    }
    run.FileList = notify.FileList;
}

// Main work, under the failure handler.
Outcome InstallFiles(RunState& run)
{
    if (CopyCabinetOut(run) == Outcome::Ended)
        return Outcome::Ended;
    if (GuiActive()) {
        GuiShow(0);
        ShowStatus("", PreparingText("Setup"));
    }
    if (AcceptLicense(run) == Outcome::Ended)
        return Outcome::Ended;
    if (GuiActive()) {
        GuiShow(0);
        GuiSetCaption("Setup");
        ShowStatus("", ReadyToProceedText("Setup"));
    }

    const std::string company = run.Header.CompanyFolder();
    run.InstallFolderPath =
        company.empty() ? Format("%s\\%s", {run.ProgramFilesFolder, run.Header.InstallFolder()})
                        : Format("%s\\%s\\%s", {run.ProgramFilesFolder, company, run.Header.InstallFolder()});
    EnsureFolder(run.InstallFolderPath);
    run.InstallFolderFormed = true;

    if (GuiActive()) {
        GuiSetBusy(1);
        ShowStatus("Installing files...", "");
        GuiSetRange(0, static_cast<int>(run.Header.FileCount() + 2), 0);
    }
    ExtractFiles(run);
    if (GuiActive()) {
        GuiSetBusy(0);
        GuiStep(1);
    }
    return Outcome::Done;
}

// Deletes a file that was not written whole, once its handle is closed:
// declared before the handle, it goes after it.
class DeleteUnlessDone {
public:
    explicit DeleteUnlessDone(const std::string& path) : path_(path) {}
    ~DeleteUnlessDone()
    {
        if (!done_)
            DeleteFileA(path_.c_str());
    }
    DeleteUnlessDone(const DeleteUnlessDone&) = delete;
    DeleteUnlessDone& operator=(const DeleteUnlessDone&) = delete;
    void Done() { done_ = true; }

private:
    const std::string& path_;
    bool done_ = false;
};

// The uninstaller: this stub again, a header saying "uninstall", the same
// ShortcutList, and the list of installed files as payload. Written whole
// or not at all: a part would be an uninstaller that cannot remove anything.
void WriteUninstaller(const RunState& run, const std::string& path)
{
    DeleteUnlessDone partial(path);
    UniqueHandle target(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target.Valid())
        RaiseFileError("create", path, GetLastError());
    const uint32_t stubSize = run.Marker.StubSize;
    std::vector<unsigned char> stub(stubSize);
    if (!SeekTo(run.OwnFile.Get(), 0) || ReadBytes(run.OwnFile.Get(), stub.data(), stubSize) != stubSize)
        RaiseFileError("read", run.OwnPath, GetLastError());

    const PackageHeader header = UninstallerHeader(run.Header, run.FileList);
    // The marker comes last: until then the copy still holds the installer's.
    PackageMarker marker = run.Marker;
    marker.PackageSize = stubSize + kHeaderSize + run.ShortcutList.size() + run.FileList.size();
    unsigned char markerBytes[kMarkerSize];
    marker.Encode(markerBytes);
    HANDLE file = target.Get();
    if (!WriteAll(file, stub.data(), stubSize) || !WriteAll(file, header.Bytes(), kHeaderSize) ||
        !WriteAll(file, run.ShortcutList.data(), static_cast<DWORD>(run.ShortcutList.size())) ||
        !WriteAll(file, run.FileList.data(), static_cast<DWORD>(run.FileList.size())) ||
        !SeekTo(file, kMarkerOffset) || !WriteAll(file, markerBytes, kMarkerSize) || !target.Close())
        RaiseFileError("write", path, GetLastError());
    partial.Done();
}

// A shell link that cannot be written ends the run, naming it and the reason.
void MakeLink(const std::string& target, const std::string& link, const std::string& description, int iconIndex)
{
    HRESULT result = CreateShellLink(target, "", link, description, target, iconIndex);
    if (FAILED(result))
        RaiseFileError("create", link, static_cast<DWORD>(result));
}

// The shortcut of every complete ShortcutList record and, when there is one,
// the uninstaller's.
void CreateShortcuts(const RunState& run, const std::string& uninstaller)
{
    const std::string group = Format("%s\\%s", {run.ProgramsFolder, run.Header.StartMenuFolder()});
    EnsureFolder(group);
    std::string list = run.ShortcutList;
    try {
        const std::string description = Format("Opens %s", {run.Header.ProductName()});
        ShortcutRecord record;
        while (!list.empty() && TakeShortcut(list, record)) {
            std::string target = Format("%s\\%s", {run.InstallFolderPath, record.target});
            MakeLink(target, Format("%s\\%s.lnk", {group, record.name}), description, 0);
        }
        // Icon 1 is the stub's second icon group, the uninstall icon.
        if (!uninstaller.empty())
            MakeLink(uninstaller, Format("%s\\%s.lnk", {group, UninstallLinkName(run.Header)}),
                     Format("Removes %s from your computer", {run.Header.ProductName()}), 1);
    } catch (...) {
        // A failed installation has no shortcuts: those made so far go again.
        RemoveShortcuts(run, group);
        throw;
    }

    if (!list.empty()) {
        RemoveFolder(group); // only an empty group goes
        ShowMessage(run, "Application icons cannot be created in your Start Menu.", MB_ICONWARNING);
    }
    SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, group.c_str(), nullptr);
}

// The uninstaller is written before any shortcut, once every file is in
// place: whatever fails then, no shortcut is left, and no uninstaller that
// is not whole.
void CreateIconsAndUninstaller(RunState& run)
{
    if (GuiActive())
        ShowStatus("Creating icons...", "");
    if (run.ShortcutList.empty())
        return; // no group, no shortcuts and no uninstaller
    std::string uninstaller;
    if (run.Header.MakeUninstaller()) {
        uninstaller = Format("%s\\%s.exe", {run.InstallFolderPath, UninstallLinkName(run.Header)});
        WriteUninstaller(run, uninstaller);
    }
    CreateShortcuts(run, uninstaller);
}

// Starts each file the cabinet marked to be run. True once one started.
bool RunMarkedFiles(const RunState& run)
{
    bool launched = false;
    if (run.RunList.empty())
        return false;
    if (GuiActive())
        ShowStatus("Executing files...", "");
    std::string list = run.RunList;
    std::string entry;
    while (TakeListEntry(list, entry)) {
        HINSTANCE r = ShellExecuteA(nullptr, "open", entry.c_str(), "", "", SW_SHOWNORMAL);
        if (reinterpret_cast<INT_PTR>(r) > 32)
            launched = true;
        Sleep(200);
    }
    return launched;
}

} // namespace

void RunInstallation(RunState& run)
{
    Outcome outcome = Outcome::Ended;
    // The icons and the uninstaller belong to the main work too: a failure
    // there is a failed installation, never a reported success.
    UnderFailureHandler(run, [&] {
        outcome = InstallFiles(run);
        if (outcome == Outcome::Done)
            CreateIconsAndUninstaller(run);
    });
    if (outcome == Outcome::Ended)
        return;

    const bool launched = RunMarkedFiles(run);

    if (GuiActive()) {
        GuiStep(1);
        ShowStatus("Installed successfuly", "Setup has completed all tasks and has processed all settings nessecery. "
                                        "Installation result status is shown bellow.");
    }
    Sleep(launched ? 1000 : 200);

    if (HasSwitch(run.Args, "/SILENT") || launched)
        return;
    const std::string product = run.Header.ProductName();
    ShowMessage(run,
                run.ShortcutList.empty()
                    ? Format("Setup of %s has been completed successfuly.", {product})
                    : Format("You can access %s by clicking on Start Menu, then All Programs.", {product}),
                MB_ICONINFORMATION);
}
