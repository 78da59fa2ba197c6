// The installation sequence: cabinet out of the package, license, files into
// the install folder, Start-menu shortcuts, uninstaller, marked files
// started, result reported.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <optional>

#include "cabinet/suncab.h"
#include "loader/CabNotify.h"
#include "loader/CommandLine.h"
#include "loader/Copies.h"
#include "loader/Messages.h"
#include "loader/Outcome.h"
#include "loader/Places.h"
#include "loader/Registration.h"
#include "loader/Sequences.h"
#include "loader/Upgrade.h"
#include "package/PackageWriter.h"
#include "package/TextLists.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/Sha256.h"
#include "services/Services.h"
#include "services/Text.h"
#include "ui/uGUI.h"

namespace {

// What the installation put in place.
struct Installation {
    WString Folder;   // set once the folder is made
    WString FileList; // every target path, each followed by a CR
    WString RunList;  // the written files the cabinet marks to be run
    uint64_t Bytes = 0; // of the files written
};

// Streams the payload into a temporary ".cab" with a running CRC-32. The
// cabinet is never held in memory. The file stays held from here to the
// clean-up: others may read it, nobody may change, replace or delete it
// between its check and the end of its extraction.
StepResult CopyCabinetOut(OwnPackage& own, TempFiles& temp)
{
    if (SetupError error =
            UniqueTempName(TempFolder(), L".cab", temp.Cabinet, temp.CabinetPath, FILE_FLAG_DELETE_ON_CLOSE))
        return error;
    if (!temp.Cabinet.Valid()) {
        ShowMessage(kSetupCaption, WFormat("Temporary file \"%s\" cannot be created!", {temp.CabinetPath}),
                    MB_ICONERROR);
        return Outcome::Failed;
    }
    // A full Temp folder ends the run like any other failed write; the
    // clean-up's close deletes what was copied. After the first failed write
    // the rest is read but no longer written.
    DWORD writeError = 0;
    bool written = true;
    auto copy = [&temp, &writeError, &written](const unsigned char* bytes, size_t count) {
        if (written && !WriteAll(temp.Cabinet.Get(), bytes, static_cast<DWORD>(count))) {
            written = false;
            writeError = GetLastError();
        }
    };
    StepOutcome outcome = own.Reader.ReadPayload(copy);
    if (!written)
        return FileError("write", temp.CabinetPath, writeError);
    // A medium that went away is no damaged download.
    if (outcome == StepOutcome::CutShort && own.Source.Error())
        return FileError("read", own.Path, own.Source.Error());
    if (outcome != StepOutcome::Passed) {
        ReportDamaged(kSetupCaption);
        return Outcome::Damaged;
    }
    Log("Cabinet checked: ", temp.CabinetPath);
    return Outcome::Done;
}

// Every file of the cabinet; the license is one of them. A package that
// keeps its folders installs names without "." too.
const wchar_t* AllFiles(const PackageReader& package)
{
    return package.Record().Asks(kAskSubFolders) ? L"*" : L"*.*";
}

// The extractor as the installation uses it: flat or with the package's
// folders, overwriting, asking nothing and starting nothing; its boxes
// belong to the progress window.
void SetUpExtractor(TUnCab& cab, const PackageReader& package, const WString& cabinet, const WString& mask,
                    const WString& folder)
{
    cab.OwnerWindow = GuiMessageOwner();
    cab.Mask = mask;
    cab.CodePage = package.Record().codePage;
    cab.Options = ucOverwrite | ucCreateFolders | (package.Record().Asks(kAskSubFolders) ? ucKeepPaths : 0);
    cab.RunAfterExtract = false;
    cab.SetCabinetFile(cabinet);
    cab.SetDestination(folder);
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

// Without windows the license opens in its default program, and a plain
// question asks for the answer.
bool ConfirmLicenseWithoutGui(const WString& shortName, const WString& licensePath)
{
    LicenseViewer viewer(LaunchProgram(licensePath, WString(), 20000));
    WString question = WFormat("Do you accept %s License agreement terms?", {shortName});
    return ShowMessage(kSetupCaption, question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

StepResult AcceptLicense(const PackageReader& package, const Invocation& call, TempFiles& temp)
{
    const WString& licenseFile = package.Text(HeaderText::LicenseFile);
    if (call.NoLicense || licenseFile.empty())
        return Outcome::Done;
    // A folder of this run's own keeps the file's own name for whatever
    // shows it, and leaves everything else in Temp alone.
    WString folder;
    bool created;
    if (SetupError error = UniqueTempFolder(TempFolder(), folder, created))
        return error;
    if (!created) {
        ShowMessage(kSetupCaption, WFormat("Temporary file \"%s\" cannot be created!", {folder}), MB_ICONERROR);
        return Outcome::Failed;
    }
    temp.LicenseFolder = folder;
    temp.LicensePath = WFormat("%s\\%s", {folder, licenseFile});
    ShowStatus("Accepting agreement...", "");
    int extracted;
    {
        TUnCab cab;
        // A plain name: the package checks refuse wildcards. The license is
        // read, never started.
        SetUpExtractor(cab, package, temp.CabinetPath, licenseFile, folder);
        if (SetupError error = cab.Execute())
            return error;
        extracted = cab.ExtractedCount();
    }
    // A package whose license is not in its cabinet is not what its maker
    // built.
    if (extracted == 0) {
        ReportDamaged(kSetupCaption);
        return Outcome::Damaged;
    }
    const WString& shortName = package.Text(HeaderText::ShortName);
    bool accepted = GuiActive() ? GuiLicense(ShortStr(shortName).c_str(), ShortStr(temp.LicensePath).c_str(),
                                             package.Record().codePage)
                                : ConfirmLicenseWithoutGui(shortName, temp.LicensePath);
    Log(accepted ? "License accepted" : "License declined");
    return accepted ? Outcome::Done : Outcome::Declined;
}

// The payload's files, through the extractor that has checked them, then
// the copies of those the package stores once.
SetupError ExtractFiles(TUnCab& cab, TCabNotify& notify, const WString& copies, Installation& done)
{
    cab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
    if (SetupError error = cab.Execute())
        return error;
    if (SetupError error = InstallCopies(cab, notify, copies))
        return error;
    done.RunList = cab.RunList();
    done.FileList = notify.FileList;
    done.Bytes = notify.Bytes;
    SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW, done.Folder.c_str(), nullptr);
    return SetupError();
}

// Main work, under the failure handler.
StepResult InstallFiles(const Invocation& call, const WString& programFiles, OwnPackage& own, TempFiles& temp,
                     Installation& done)
{
    const PackageHeader& header = own.Reader.Header();
    StepResult step = CopyCabinetOut(own, temp);
    if (step.outcome != Outcome::Done)
        return step;
    // Every entry's name, by the extraction's own rules, before the first
    // file (the license included) is written: a name refused halfway would
    // leave files behind and no uninstaller.
    const WString folder = InstallFolderPath(programFiles, own.Reader);
    TCabNotify notify;
    TUnCab cab;
    SetUpExtractor(cab, own.Reader, temp.CabinetPath, AllFiles(own.Reader), folder);
    if (SetupError error = cab.CheckEntries(own.Reader.DecodedCopies()))
        return error;
    // The uninstaller finds the files of a tree from its own folder.
    if (own.Reader.Record().Asks(kAskSubFolders))
        notify.Skip = cab.Destination().size();
    GuiShow(GuiMode::Install);
    ShowStatus("", PreparingText(kSetupCaption));
    step = AcceptLicense(own.Reader, call, temp);
    if (step.outcome != Outcome::Done)
        return step;
    GuiShow(GuiMode::Install);
    ShowCaption(kSetupCaption);
    ShowStatus("", ReadyToProceedText(kSetupCaption));

    if (SetupError error = EnsureFolder(folder))
        return error;
    Log("Folder ", folder);
    done.Folder = folder;

    GuiSetBusy(true);
    ShowStatus("Installing files...", "");
    GuiSetRange(0, static_cast<int>(header.FileCount() + 2), 0);
    if (SetupError error = ExtractFiles(cab, notify, own.Reader.DecodedCopies(), done))
        return error;
    GuiSetBusy(false);
    return GuiStep(1);
}

// Deletes a file that was not written whole, once its handle is closed:
// declared before the handle, it goes after it.
class DeleteUnlessDone {
public:
    explicit DeleteUnlessDone(const WString& path) : path_(path) {}
    ~DeleteUnlessDone()
    {
        if (!done_)
            DeleteFileW(path_.c_str());
    }
    DeleteUnlessDone(const DeleteUnlessDone&) = delete;
    DeleteUnlessDone& operator=(const DeleteUnlessDone&) = delete;
    void Done() { done_ = true; }

private:
    const WString& path_;
    bool done_ = false;
};

// The uninstaller, written whole or not at all: a part would be an
// uninstaller that cannot remove anything.
SetupError WriteUninstallerFile(const WString& path, const OwnPackage& own, const WString& fileList)
{
    DeleteUnlessDone partial(path);
    DWORD error;
    UniqueHandle target = OpenToReplace(path, GENERIC_WRITE, error);
    if (!target.Valid())
        return FileError("create", path, error);
    FileSink out(target.Get());
    // Every installed name survives in UTF-8, whatever the texts' code page,
    // which the uninstaller keeps for its texts; what the package asked for
    // tells it how the list is written and where the shortcuts are.
    PackageRecord record;
    record.present = true;
    record.codePage = own.Reader.Record().codePage;
    record.asks = kAskUtf8FileList | (own.Reader.Record().asks & kInheritedAsks);
    switch (WriteUninstaller(out, own.Source, own.Reader.Marker().StubSize, own.Reader.Header(),
                             own.Reader.ShortcutList(), EncodeUtf8(fileList), record, Sha256Of)) {
    case WriteResult::ReadFailed:
        return FileError("read", own.Path, own.Source.Error() ? own.Source.Error() : ERROR_HANDLE_EOF);
    case WriteResult::WriteFailed:
        return FileError("write", path, out.Error());
    case WriteResult::Written:
        break;
    }
    if (!target.Close())
        return FileError("write", path, GetLastError());
    partial.Done();
    Log("Uninstaller ", path);
    return SetupError();
}

// A shell link that cannot be written ends the run, naming it and the reason.
SetupError MakeLink(const WString& target, const WString& link, const WString& description, int iconIndex)
{
    HRESULT result = CreateShellLink(target, WString(), link, description, target, iconIndex);
    if (FAILED(result))
        return FileError("create", link, static_cast<DWORD>(result));
    Log("Shortcut ", link);
    return SetupError();
}

// The shortcut of every complete ShortcutList record and, when there is one,
// the uninstaller's.
SetupError CreateShortcuts(const PackageReader& package, const WString& group, const WString& installFolder,
                           const WString& uninstaller)
{
    if (SetupError error = EnsureFolder(group))
        return error;
    Log("Folder ", group);
    WString list = package.Shortcuts();
    SetupError error;
    const WString& product = package.Text(HeaderText::ProductName);
    const WString description = WFormat("Opens %s", {product});
    WShortcutRecord record;
    while (!error && !list.empty() && TakeShortcut(list, record)) {
        WString target = WFormat("%s\\%s", {installFolder, record.target});
        error = MakeLink(target, WFormat("%s\\%s.lnk", {group, record.name}), description, 0);
    }
    // Icon 1 is the stub's second icon group, the uninstall icon.
    if (!error && !uninstaller.empty())
        error = MakeLink(uninstaller, WFormat("%s\\%s.lnk", {group, UninstallName(package)}),
                         WFormat("Removes %s from your computer", {product}), 1);
    if (error) {
        // A failed installation has no shortcuts: those made so far go again.
        RemoveShortcuts(package, group);
        return error;
    }

    if (!list.empty()) {
        RemoveFolder(group); // only an empty group goes
        ShowMessage(kSetupCaption, WidenAscii("Application icons cannot be created in your Start Menu."),
                    MB_ICONWARNING);
    }
    SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW, group.c_str(), nullptr);
    return SetupError();
}

// The uninstaller is written before any shortcut, once every file is in
// place: whatever fails then, no shortcut is left, and no uninstaller that
// is not whole. An earlier installation in the folder is replaced: what only
// it had goes, its files before the new uninstaller lists what stays.
SetupError CreateIconsAndUninstaller(const OwnPackage& own, const WString& programs, Installation& done)
{
    const PackageReader& package = own.Reader;
    const bool registers = package.Record().Asks(kAskAppsEntry);
    ShowStatus("Creating icons...", "");
    std::optional<EarlierInstallation> earlier;
    if (package.Record().Asks(kAskUpgrade)) {
        earlier.emplace(package, done.Folder);
        if (earlier->Found())
            earlier->RemoveFilesNotIn(done.FileList, package.Record().Asks(kAskSubFolders));
    }
    const WString group = ShortcutGroup(programs, package);
    WString uninstaller;
    // Without shortcuts there is no group, no shortcut and, unless the
    // product is registered, no uninstaller.
    if (package.Header().MakeUninstaller() && (registers || !package.ShortcutList().empty())) {
        uninstaller = WFormat("%s\\%s.exe", {done.Folder, UninstallName(package)});
        if (SetupError error = WriteUninstallerFile(uninstaller, own, done.FileList))
            return error;
        if (registers)
            if (SetupError error = RegisterProduct(package, done.Folder, uninstaller, done.Bytes))
                return error;
    }
    if (!package.ShortcutList().empty())
        if (SetupError error = CreateShortcuts(package, group, done.Folder, uninstaller))
            return error;
    if (earlier && earlier->Found())
        earlier->RemoveShortcutsNotIn(package, group);
    return SetupError();
}

// Starts each file the cabinet marked to be run. True once one started.
bool RunMarkedFiles(const WString& runList)
{
    bool launched = false;
    if (runList.empty())
        return false;
    ShowStatus("Executing files...", "");
    WString list = runList;
    WString entry;
    while (TakeListEntry(list, entry)) {
        HINSTANCE r = ShellExecuteW(nullptr, L"open", entry.c_str(), L"", L"", SW_SHOWNORMAL);
        if (reinterpret_cast<INT_PTR>(r) > 32)
            launched = true;
        Log(reinterpret_cast<INT_PTR>(r) > 32 ? "Started " : "Cannot start ", entry);
        PauseForWindows(200);
    }
    return launched;
}

} // namespace

StepResult RunInstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own, TempFiles& temp)
{
    Installation done;
    Outcome outcome = Outcome::Failed;
    // The icons and the uninstaller belong to the main work too: a failure
    // there is a failed installation, never a reported success. Once the
    // install folder is made, a failure removes it where it is empty.
    SetupError error = UnderFailureHandler(
        [&] {
            StepResult step = InstallFiles(call, folders.ProgramFiles, own, temp, done);
            outcome = step.outcome;
            if (outcome == Outcome::Done)
                return CreateIconsAndUninstaller(own, folders.Programs, done);
            return std::move(step.error);
        },
        [&] {
            if (!done.Folder.empty())
                RemoveInstallFolders(done.Folder, !own.Reader.Text(HeaderText::CompanyFolder).empty());
        });
    if (error)
        return error;
    if (outcome != Outcome::Done)
        return outcome;

    const bool launched = RunMarkedFiles(done.RunList);

    if (SetupError error = GuiStep(1))
        return error;
    ShowStatus("Installed successfuly", "Setup has completed all tasks and has processed all settings nessecery. "
                                        "Installation result status is shown bellow.");
    PauseForWindows(launched ? 1000 : 200);

    if (call.Silent || launched)
        return Outcome::Done;
    const WString& product = own.Reader.Text(HeaderText::ProductName);
    ShowMessage(kSetupCaption,
                own.Reader.ShortcutList().empty()
                    ? WFormat("Setup of %s has been completed successfuly.", {product})
                    : WFormat("You can access %s by clicking on Start Menu, then All Programs.", {product}),
                MB_ICONINFORMATION);
    return Outcome::Done;
}
