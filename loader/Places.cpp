#include "loader/Places.h"

#include <windows.h>
#include <shlobj.h>

#include "package/PackageReader.h"
#include "package/PathRules.h"
#include "package/TextLists.h"
#include "services/Log.h"
#include "services/Services.h"
#include "services/Text.h"

WString ShellFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer)))
        return WString();
    // Nothing is ever made in a root or relative to the current folder.
    WString folder = buffer;
    const bool rooted = folder.size() > 3 && folder[1] == ':' && folder[2] == '\\';
    const bool unc = folder.size() > 2 && folder[0] == '\\' && folder[1] == '\\' && folder[2] != '?' &&
                     folder[2] != '.';
    return rooted || unc ? folder : WString();
}

WString ProgramsOf(const PackageReader& package)
{
    return ShellFolder(package.Record().Asks(kAskAllUsers) ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
}

WString InstallFolderPath(const WString& programFiles, const PackageReader& package)
{
    const WString& company = package.Text(HeaderText::CompanyFolder);
    const WString& folder = package.Text(HeaderText::InstallFolder);
    return company.empty() ? WFormat("%s\\%s", {programFiles, folder})
                           : WFormat("%s\\%s\\%s", {programFiles, company, folder});
}

WString ShortcutGroup(const WString& programs, const PackageReader& package)
{
    return WFormat("%s\\%s", {programs, package.Text(HeaderText::StartMenuFolder)});
}

WString UninstallName(const PackageReader& package)
{
    switch (package.Header().UninstallLinkStyle()) {
    case 1:
        return WFormat("Uninstall %s", {package.Text(HeaderText::ShortName)});
    case 2:
        return WFormat("Uninstall %s", {package.Text(HeaderText::ProductName)});
    default:
        return WidenAscii("Uninstall");
    }
}

bool ReadInstalledFileList(PackageReader& uninstaller, WString& list)
{
    String bytes;
    KeepText keep(bytes);
    if (uninstaller.ReadPayload(keep) != StepOutcome::Passed)
        return false;
    const PackageRecord& record = uninstaller.Record();
    list = DecodeText(bytes.c_str(), bytes.size(), record.Asks(kAskUtf8FileList) ? kCodePageUtf8 : record.codePage);
    return true;
}

WString ListedPath(const WString& root, const WString& name, bool relative)
{
    if (!relative)
        return name;
    const WString path = root + name;
    return CheckRelativePath(name) == NameRule::Allowed && !LinkOnTheWay(root, path) ? path : WString();
}

void RemoveEmptyFolders(const WString& root, const WString& path) noexcept
{
    for (WString folder = FolderOf(path); folder.size() > root.size(); folder = FolderOf(folder))
        RemoveDirectoryW(folder.c_str());
}

bool ListHolds(const WString& list, const WString& name)
{
    // Names of other lengths are passed by without a comparison: the lists
    // of a large product are long.
    const wchar_t* p = list.c_str();
    while (*p) {
        const wchar_t* end = p;
        while (*end && *end != L'\r')
            ++end;
        const int length = static_cast<int>(end - p);
        if (length == static_cast<int>(name.size()) &&
            CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, p, length, name.c_str(), length) == CSTR_EQUAL)
            return true;
        p = *end ? end + 1 : end;
    }
    return false;
}

WString LinksOf(const PackageReader& package, const WString& group)
{
    WString links;
    WString list = package.Shortcuts();
    WShortcutRecord record;
    while (!list.empty() && TakeShortcut(list, record))
        links += WFormat("%s\\%s.lnk\r", {group, record.name});
    if (package.Header().MakeUninstaller())
        links += WFormat("%s\\%s.lnk\r", {group, UninstallName(package)});
    return links;
}

void RemoveShortcuts(const PackageReader& package, const WString& group, const WString& kept) noexcept
{
    // A group that cannot be cleaned up is found by the final check.
    WString links = LinksOf(package, group);
    WString link;
    while (TakeListEntry(links, link))
        if (!ListHolds(kept, link) && DeleteFileW(link.c_str()))
            Log("Deleted ", link);
    RemoveFolder(group);
    SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, group.c_str(), nullptr);
}

void RemoveInstallFolders(const WString& folder, bool companyFolder) noexcept
{
    // Gives the shell and the files just deleted time to let go.
    Sleep(200);
    RemoveFolder(folder);
    if (companyFolder) {
        Sleep(200);
        RemoveFolder(FolderOf(folder));
    }
}
