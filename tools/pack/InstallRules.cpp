#include "tools/pack/InstallRules.h"

#include <set>

#include "package/PathRules.h"
#include "services/Text.h"
#include "tools/pack/CodePage.h"

std::string LastComponent(const std::string& name)
{
    // The stub's own cut, so that both refuse and compare the same names.
    const String last = LastComponent(String(name));
    return std::string(last.c_str(), last.size());
}

std::string EntryText(const std::string& stored, uint16_t attribs, int codePage)
{
    return FromAnsi(stored, (attribs & kAttrUtf8Name) ? kUtf8CodePage : codePage);
}

std::string InstalledName(const std::string& storedName, bool subFolders)
{
    return subFolders ? storedName : LastComponent(storedName);
}

NameRule PlaceRule(const std::string& installed, bool subFolders)
{
    const std::string rule = RuleForm(installed);
    return subFolders ? CheckRelativePath(rule) : CheckPlainName(rule);
}

std::string SameFileForm(const std::string& installed)
{
    const String kept = KeptPath(String(installed));
    return FoldCase(std::string(kept.c_str(), kept.size()));
}

std::string CabinetNamesProblem(const CabInfo& info, int cp, std::vector<std::string>& names, bool subFolders)
{
    names.clear();
    if (info.PartOfSet())
        return "it is part " + std::to_string(info.setIndex + 1) +
               " of a multi-cabinet set; the installer needs one whole cabinet";
    if (info.files.empty())
        return "it holds no files";
    std::set<std::string> seen, folders;
    for (const CabFileInfo& f : info.files) {
        const std::string name = EntryText(f.name, f.attribs, cp), last = InstalledName(name, subFolders);
        const int entryCp = (f.attribs & kAttrUtf8Name) ? kUtf8CodePage : cp;
        if (!IsText(f.name, entryCp))
            return "entry \"" + name + "\" is not text in code page " + std::to_string(entryCp) +
                   ((f.attribs & kAttrUtf8Name) ? " (its flag 0x80 says UTF-8)" : " (give the --codepage it was made in)");
        if (!subFolders && name.find('.') == std::string::npos)
            return "entry \"" + name + "\" has no \".\": the installer extracts only *.*";
        NameRule rule = PlaceRule(last, subFolders);
        if (rule != NameRule::Allowed)
            return (subFolders ? "" : "entry \"" + name + "\": ") + "file name \"" + last + "\" " +
                   NameRuleText(rule, last.data(), last.size());
        const std::string form = SameFileForm(last);
        if (!seen.insert(form).second)
            return "two entries are named \"" + last + "\"" +
                   (subFolders ? " (Windows ignores letter case)" : " (the installer puts all files in one folder)");
        // One name cannot be a file and a folder: "a" and "a\\x".
        bool clash = folders.count(form) != 0;
        for (size_t end = form.find('\\'); end != std::string::npos; end = form.find('\\', end + 1)) {
            clash = clash || seen.count(form.substr(0, end)) != 0;
            folders.insert(form.substr(0, end));
        }
        if (clash)
            return "entry \"" + last + "\" and another one make one name both a file and a folder";
        names.push_back(name);
    }
    return "";
}

PackageHeader RuleHeader(const PackageHeader& header, int codePage)
{
    PackageHeader rules = header;
    for (int t = 0; t <= static_cast<int>(HeaderText::GuiLibrary); ++t) {
        const HeaderText text = static_cast<HeaderText>(t);
        rules.SetText(text, RuleForm(FromAnsi(header.Text(text), codePage)));
    }
    return rules;
}

namespace {

// The longest folder a stub of this machine installs into, and the Start
// menu's Programs folder of a user with the longest name Windows allows
// (20 characters).
struct Place {
    std::string shown;
    size_t length;
};

Place ProgramsPlace(bool allUsers)
{
    const std::string tail = "\\Microsoft\\Windows\\Start Menu\\Programs";
    if (allUsers)
        return Place{"C:\\ProgramData" + tail, std::string("C:\\ProgramData").size() + tail.size()};
    return Place{"C:\\Users\\<user>\\AppData\\Roaming" + tail,
                 std::string("C:\\Users\\\\AppData\\Roaming").size() + 20 + tail.size()};
}

std::string Joined(const std::string& folder, const std::string& sub)
{
    return sub.empty() ? folder : folder + "\\" + sub;
}

} // namespace

std::string PathTooLong(const InstallPaths& paths, uint16_t machine)
{
    const std::string pf = ProgramFilesOf(machine);
    const Place install{Joined(Joined(pf, paths.company), paths.install) + "\\",
                        Utf16Length(Joined(Joined(pf, paths.company), paths.install)) + 1};
    const Place programs = ProgramsPlace(paths.allUsers);
    const Place group{Joined(programs.shown, paths.startMenu) + "\\",
                      programs.length + (paths.startMenu.empty() ? 0 : 1 + Utf16Length(paths.startMenu)) + 1};
    auto check = [](const Place& in, const std::string& what, const std::string& name) -> std::string {
        const size_t allowed = in.length < kMaxWindowsPath ? kMaxWindowsPath - in.length : 0;
        const size_t length = Utf16Length(name);
        if (length <= allowed)
            return "";
        return what + " \"" + name + "\" is " + std::to_string(length) + " characters long; installed in " +
               in.shown + " a name may have at most " + std::to_string(allowed) +
               " (Windows paths end at 259 characters)";
    };
    std::string problem;
    for (const std::string& name : paths.files)
        if (problem.empty())
            problem = check(install, "file name", name);
    for (const std::string& link : paths.links)
        if (problem.empty())
            problem = check(group, "shortcut", link + ".lnk");
    if (problem.empty() && !paths.uninstaller.empty())
        problem = check(install, "uninstaller", paths.uninstaller + ".exe");
    if (problem.empty() && !paths.uninstaller.empty() && !paths.links.empty())
        problem = check(group, "uninstaller's shortcut", paths.uninstaller + ".lnk");
    return problem;
}

InstallPaths InstallPathsOf(const PackageHeader& header, const std::vector<std::string>& files,
                            const std::vector<std::string>& links, int codePage, const PackageRecord& record)
{
    InstallPaths paths;
    for (const std::string& name : files)
        paths.files.push_back(InstalledName(name, record.Asks(kAskSubFolders)));
    paths.allUsers = record.Asks(kAskAllUsers);
    paths.company = FromAnsi(header.CompanyFolder(), codePage);
    paths.install = FromAnsi(header.InstallFolder(), codePage);
    paths.startMenu = FromAnsi(header.StartMenuFolder(), codePage);
    paths.links = links;
    // The installer writes its uninstaller only while it makes shortcuts,
    // or when it registers the product.
    if (header.MakeUninstaller() && (!links.empty() || record.Asks(kAskAppsEntry)))
        paths.uninstaller = FromAnsi(UninstallLinkName(header).c_str(), codePage);
    return paths;
}
