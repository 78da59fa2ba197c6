#include "tools/pack/Packer.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "package/Package.h"
#include "package/PathRules.h"
#include "package/TextLists.h"
#include "package/PeImage.h"
#include "tools/pack/CabReader.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"
#include "tools/pack/Manifest.h"
#include "tools/pack/ToolError.h"

namespace {

struct Found {
    std::string path;
    std::string name; // UTF-8 stored name before conversion
    struct stat st;
};

std::string CodePageName(int codePage) { return "code page " + std::to_string(codePage); }

void WalkFolder(const std::string& root, const std::string& rel, bool keepNames, std::vector<Found>& out)
{
    std::string dirPath = rel.empty() ? root : root + "/" + rel;
    DIR* dir = opendir(dirPath.c_str());
    if (!dir)
        throw ToolError("cannot read folder " + dirPath);
    std::vector<std::string> names;
    while (dirent* d = readdir(dir)) {
        std::string n = d->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        std::string relPath = rel.empty() ? n : rel + "/" + n;
        Found f;
        f.path = root + "/" + relPath;
        if (stat(f.path.c_str(), &f.st) != 0)
            throw ToolError("cannot read " + f.path);
        if (S_ISDIR(f.st.st_mode)) {
            WalkFolder(root, relPath, keepNames, out);
        } else if (S_ISREG(f.st.st_mode)) {
            f.name = n;
            if (keepNames) {
                f.name = relPath;
                std::replace(f.name.begin(), f.name.end(), '/', '\\');
            }
            out.push_back(f);
        }
    }
}

// What the stub cannot make a file of: Windows' reserved characters, and a
// "\" that would put the file in a folder the installer never creates.
bool HasReservedCharacter(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20 || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return true;
    return false;
}

// --run and --attrib name a file by its stored name or by its path as given.
bool NameMatches(const std::string& wanted, const std::string& storedUtf8, const std::string& sourcePath)
{
    return wanted == sourcePath || FoldCase(wanted) == FoldCase(storedUtf8);
}

std::string Ansi(const std::string& utf8, int codePage, const std::string& what)
{
    std::string out;
    if (!ToAnsi(utf8, codePage, out))
        throw ToolError(what + " \"" + utf8 + "\" has a character that " + CodePageName(codePage) +
                        " cannot represent");
    return out;
}

std::string FieldText(const std::map<std::string, std::string>& fields, const std::string& key, int codePage)
{
    auto it = fields.find(key);
    if (it == fields.end())
        return "";
    std::string ansi = Ansi(it->second, codePage, key);
    if (ansi.size() > kTextCapacity)
        throw ToolError(key + " is " + std::to_string(ansi.size()) + " bytes long; the header holds at most 100");
    if (ansi.find_first_of("\r\n") != std::string::npos)
        throw ToolError(key + " must not hold a line break");
    return ansi;
}

// A folder below Program Files or the Start menu: relative, no way up.
void CheckFolderField(const std::string& key, const std::string& value)
{
    if (value.empty())
        return;
    bool bad = value[0] == '\\' || value.find_first_of(":/*?\"<>|") != std::string::npos;
    size_t start = 0;
    while (!bad && start <= value.size()) {
        size_t end = value.find('\\', start);
        if (end == std::string::npos)
            end = value.size();
        std::string part = value.substr(start, end - start);
        bad = part.empty() || part == "." || part == "..";
        start = end + 1;
    }
    if (bad)
        throw ToolError(key + " \"" + value + "\" must be a relative folder (names joined by \\, no \"..\", no : / * ? \" < > |)");
}

// The stub refuses a package whose texts lead outside their places, or whose
// files Windows would take for devices: refuse to write one.
void CheckPlaces(const PackageHeader& header, const std::string& list, const std::vector<std::string>& storedNames,
                 int codePage)
{
    auto refuse = [codePage](const std::string& what, const std::string& ansi, NameRule rule) {
        throw ToolError(what + " \"" + FromAnsi(ansi, codePage) + "\" " + NameRuleText(rule));
    };
    HeaderNameFault fault = CheckHeaderNames(header);
    if (fault.rule != NameRule::Allowed)
        refuse(HeaderTextName(fault.field), header.Text(fault.field), fault.rule);
    std::string rest = list;
    ShortcutRecord record;
    bool target;
    while (TakeShortcut(rest, record)) {
        NameRule rule = CheckShortcutRecord(record, target);
        if (rule != NameRule::Allowed)
            refuse(target ? "shortcut target" : "shortcut name", target ? record.target : record.name, rule);
    }
    for (const std::string& stored : storedNames) {
        // The installer keeps only the last component of a stored name.
        std::string name = stored.substr(stored.find_last_of("\\/:") + 1);
        NameRule rule = CheckPlainName(name);
        if (rule != NameRule::Allowed)
            refuse("file name", name, rule);
    }
}

// A stub is one of the two kinds we build: an i386 PE32 or an x86-64 PE32+
// GUI program, whole, without a package.
void CheckStub(const std::string& path, const std::vector<unsigned char>& stub)
{
    const std::string what = "stub " + path;
    PeImage pe;
    switch (ReadPeImage(stub.data(), stub.size(), pe)) {
    case PeStatus::Ok: break;
    case PeStatus::NotPe: throw ToolError(what + " is not a Windows program");
    case PeStatus::CutShort: throw ToolError(what + " is cut short: its headers pass the end of the file");
    }
    const char* machine = PeMachineName(pe.machine);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", pe.machine);
    switch (CheckStubImage(pe, stub.size())) {
    case StubFit::Ok: break;
    case StubFit::Dll: throw ToolError(what + " is a DLL, not a program");
    case StubFit::NotExecutable: throw ToolError(what + " is not marked as an executable program");
    case StubFit::OtherMachine:
        throw ToolError(what + " is for " + (machine ? machine : "machine " + std::string(hex)) +
                        "; a stub is for i386 (32-bit) or x86-64 (64-bit)");
    case StubFit::MachineMismatch:
        throw ToolError(what + " is for " + machine + " but has a " + std::to_string(PeBits(pe)) +
                        "-bit header; a stub is i386 PE32 or x86-64 PE32+");
    case StubFit::NotGui:
        throw ToolError(what + (pe.subsystem == kPeSubsystemConsole ? std::string(" is a console program")
                                                                     : " has subsystem " + std::to_string(pe.subsystem)) +
                        "; a stub is a GUI program");
    case StubFit::CutShort:
        throw ToolError(what + " is cut short: its sections end at byte " + std::to_string(pe.dataEnd) +
                        ", the file at " + std::to_string(stub.size()));
    }
    for (uint32_t i = kMarkerOffset; i < kMarkerOffset + kMarkerSize; ++i)
        if (stub[i] != 0)
            throw ToolError(what + " already carries a package (its marker is not zero); use the bare stub");
}

unsigned ParseNumber(const std::map<std::string, std::string>& fields, const std::string& key, unsigned def,
                     unsigned max)
{
    auto it = fields.find(key);
    if (it == fields.end() || it->second.empty())
        return def;
    char* end = nullptr;
    unsigned long v = std::strtoul(it->second.c_str(), &end, 0);
    if (*end != '\0' || v > max || it->second[0] == '-')
        throw ToolError(key + " must be a number from 0 to " + std::to_string(max) + ", not \"" + it->second + "\"");
    return static_cast<unsigned>(v);
}

} // namespace

uint16_t ParseAttributes(const std::string& text)
{
    if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
        char* end = nullptr;
        unsigned long v = std::strtoul(text.c_str(), &end, 0);
        if (*end == '\0' && v <= 0xFFFF)
            return static_cast<uint16_t>(v);
    } else {
        uint16_t v = 0;
        bool ok = true;
        for (char c : text) {
            switch (c) {
            case 'r': v |= kAttrReadOnly; break;
            case 'h': v |= kAttrHidden; break;
            case 's': v |= kAttrSystem; break;
            case 'a': v |= kAttrArchive; break;
            case 'x': v |= kAttrRun; break;
            default: ok = false;
            }
        }
        if (ok)
            return v;
    }
    throw ToolError("attributes \"" + text + "\": give letters r h s a x or a number such as 0x27");
}

std::vector<CabEntry> CollectEntries(const std::vector<PackInput>& inputs, const CollectOptions& options)
{
    std::vector<Found> found;
    for (const PackInput& in : inputs) {
        struct stat st;
        if (stat(in.path.c_str(), &st) != 0)
            throw ToolError("missing file: " + in.path);
        if (S_ISDIR(st.st_mode)) {
            if (!in.stored.empty())
                throw ToolError("a stored name needs a file, not the folder " + in.path);
            std::string root = in.path;
            while (root.size() > 1 && root.back() == '/')
                root.pop_back();
            WalkFolder(root, "", options.keepNames, found);
        } else if (S_ISREG(st.st_mode)) {
            found.push_back(Found{in.path, in.stored.empty() ? BaseName(in.path) : in.stored, st});
        } else {
            throw ToolError("not a regular file: " + in.path);
        }
    }
    if (found.empty())
        throw ToolError("no files to pack");

    std::vector<CabEntry> entries;
    std::map<std::string, std::string> seen; // folded name -> source
    for (const Found& f : found) {
        if (!options.keepNames) {
            if (f.name.find('.') == std::string::npos)
                throw ToolError("file name \"" + f.name + "\" has no \".\": the installer extracts only *.* (" +
                                f.path + ")");
            if (HasReservedCharacter(f.name))
                throw ToolError("file name \"" + f.name + "\" holds a character Windows does not allow in names (" +
                                f.path + ")");
            auto [it, fresh] = seen.emplace(FoldCase(f.name), f.path);
            if (!fresh)
                throw ToolError("two files are named \"" + f.name + "\": " + it->second + " and " + f.path +
                                " (the installer puts all files in one folder)");
        }
        CabEntry e;
        e.name = Ansi(f.name, options.codePage, "file name");
        e.sourcePath = f.path;
        e.attribs = kAttrArchive | ((f.st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
        DosDateTime(options.fixedTime ? *options.fixedTime : static_cast<int64_t>(f.st.st_mtime), e.date, e.time);
        entries.push_back(std::move(e));
    }

    auto apply = [&](const std::string& wanted, const char* option, auto&& change) {
        bool any = false;
        for (size_t i = 0; i < entries.size(); ++i)
            if (NameMatches(wanted, found[i].name, found[i].path)) {
                change(entries[i]);
                any = true;
            }
        if (!any)
            throw ToolError(std::string(option) + " " + wanted + ": no packed file has that name");
    };
    for (const auto& [name, text] : options.attribs) {
        uint16_t v = ParseAttributes(text);
        apply(name, "--attrib", [v](CabEntry& e) { e.attribs = v; });
    }
    for (const std::string& name : options.run)
        apply(name, "--run", [](CabEntry& e) { e.attribs |= kAttrRun; });
    for (const CabEntry& e : entries)
        if (e.attribs & kAttrUtf8Name)
            throw ToolError("attribute 0x80 (UTF-8 name) cannot be set: the installer reads names as ANSI");
    return entries;
}

PackResult BuildPackage(const PackRequest& req)
{
    const int cp = req.collect.codePage;
    PackResult result;

    std::vector<unsigned char> stub;
    if (!ReadWholeFile(req.stubPath, stub))
        throw ToolError("missing file: cannot read the stub " + req.stubPath);
    CheckStub(req.stubPath, stub);

    // The payload and the names the installer will see in it.
    std::vector<unsigned char> cab;
    std::vector<std::string> storedNames; // ANSI, as the stub matches them
    if (!req.cabPath.empty()) {
        if (!req.inputs.empty())
            throw ToolError("give either --cab or files, not both");
        if (!req.collect.run.empty() || !req.collect.attribs.empty())
            throw ToolError("--run and --attrib cannot change a ready-made cabinet");
        if (!ReadWholeFile(req.cabPath, cab))
            throw ToolError("missing file: cannot read the cabinet " + req.cabPath);
        CabInfo info;
        try {
            info = ReadCabinetDirectory(cab);
            VerifyCabinet(cab, false);
        } catch (const ToolError& e) {
            throw ToolError("unreadable cabinet " + req.cabPath + ": " + e.what());
        }
        if (info.PartOfSet())
            throw ToolError("cabinet " + req.cabPath + " is part of a multi-cabinet set; the installer needs one cabinet");
        if (info.files.empty())
            throw ToolError("cabinet " + req.cabPath + " holds no files");
        std::set<std::string> seen;
        for (const CabFileInfo& f : info.files) {
            std::string shown = (f.attribs & kAttrUtf8Name) ? f.name : FromAnsi(f.name, cp);
            if (f.attribs & kAttrUtf8Name)
                throw ToolError("cabinet entry \"" + shown + "\" has a UTF-8 name (0x80); the installer reads names as ANSI");
            if (f.name.find('.') == std::string::npos)
                throw ToolError("cabinet entry \"" + shown + "\" has no \".\": the installer extracts only *.*");
            std::string last = f.name.substr(f.name.find_last_of('\\') == std::string::npos ? 0 : f.name.find_last_of('\\') + 1);
            if (!seen.insert(FoldCase(FromAnsi(last, cp))).second)
                throw ToolError("cabinet holds two entries named \"" + FromAnsi(last, cp) +
                                "\" (the installer puts all files in one folder)");
            storedNames.push_back(f.name);
        }
    } else {
        if (req.inputs.empty())
            throw ToolError("no files to pack: give files, a folder or --cab");
        CollectOptions collect = req.collect;
        collect.keepNames = false;
        std::vector<CabEntry> entries = CollectEntries(req.inputs, collect);
        for (const CabEntry& e : entries)
            storedNames.push_back(e.name);
        cab = WriteCabinet(entries, req.cab);
    }
    result.fileCount = static_cast<uint32_t>(storedNames.size());
    result.cabinetSize = static_cast<uint32_t>(cab.size());

    // Header texts.
    PackageHeader header = PackageHeader::Blank();
    static const std::pair<const char*, ::HeaderText> kTexts[] = {
        {"ProductName", ::HeaderText::ProductName},       {"CompanyFolder", ::HeaderText::CompanyFolder},
        {"ShortName", ::HeaderText::ShortName},           {"LicenseFile", ::HeaderText::LicenseFile},
        {"InstallFolder", ::HeaderText::InstallFolder},   {"StartMenuFolder", ::HeaderText::StartMenuFolder},
        {"GuiLibrary", ::HeaderText::GuiLibrary}};
    std::map<std::string, std::string> ansi;
    for (const auto& [key, field] : kTexts) {
        ansi[key] = FieldText(req.fields, key, cp);
        header.SetText(field, ansi[key]);
    }
    if (ansi["ProductName"].empty())
        throw ToolError("ProductName is empty: give --product-name or ProductName in the manifest");
    if (ansi["InstallFolder"].empty())
        throw ToolError("InstallFolder is empty: give --install-folder or InstallFolder in the manifest");
    CheckFolderField("CompanyFolder", ansi["CompanyFolder"]);
    CheckFolderField("InstallFolder", ansi["InstallFolder"]);
    CheckFolderField("StartMenuFolder", ansi["StartMenuFolder"]);

    const std::string& license = ansi["LicenseFile"];
    if (!license.empty()) {
        if (license.find_first_of("\\/:*?") != std::string::npos)
            throw ToolError("LicenseFile \"" + req.fields.at("LicenseFile") +
                            "\" must be a plain file name (no \\ / : * ?)");
        bool packed = std::any_of(storedNames.begin(), storedNames.end(), [&](const std::string& n) {
            return FoldCase(FromAnsi(n, cp)) == FoldCase(FromAnsi(license, cp));
        });
        if (!packed)
            throw ToolError("LicenseFile \"" + req.fields.at("LicenseFile") + "\" is not one of the packed files");
    }
    header.SetMakeUninstaller(static_cast<uint8_t>(ParseNumber(req.fields, "MakeUninstaller", 0, 1)));
    header.SetUninstallLinkStyle(static_cast<uint8_t>(ParseNumber(req.fields, "UninstallLinkStyle", 1, 255)));
    header.SetFileCount(result.fileCount);

    // ShortcutList: "target|name\r" per record.
    std::string list;
    std::set<std::string> linkNames;
    for (const auto& [name, target] : req.shortcuts) {
        if (name.find_first_of("\r\n") != std::string::npos || target.find_first_of("\r\n") != std::string::npos)
            throw ToolError("shortcut \"" + name + "\": a line break cannot be stored in a shortcut");
        if (target.find('|') != std::string::npos)
            throw ToolError("shortcut \"" + name + "\": its target \"" + target + "\" must not hold \"|\"");
        if (name.empty() || target.empty())
            throw ToolError("shortcut \"" + name + "=" + target + "\" needs both a name and a target");
        if (HasReservedCharacter(name))
            throw ToolError("shortcut name \"" + name + "\" holds a character Windows does not allow in file names");
        std::string n = Ansi(name, cp, "shortcut name");
        std::string t = Ansi(target, cp, "shortcut target");
        if (!linkNames.insert(FoldCase(name)).second)
            throw ToolError("two shortcuts are named \"" + name + "\"");
        bool packed = std::any_of(storedNames.begin(), storedNames.end(), [&](const std::string& s) {
            return FoldCase(FromAnsi(s, cp)) == FoldCase(target);
        });
        if (!packed)
            result.warnings.push_back("shortcut \"" + name + "\" points at \"" + target + "\", which is not a packed file");
        list += t + "|" + n + "\r";
    }
    if (!list.empty() && ansi["StartMenuFolder"].empty())
        throw ToolError("StartMenuFolder is empty: the shortcuts need a Start-menu folder");
    if (header.MakeUninstaller() && list.empty())
        result.warnings.push_back(
            "MakeUninstaller is set but there are no shortcuts: the installer writes its uninstaller only while it makes shortcuts");

    header.SetShortcutListSize(static_cast<uint32_t>(list.size()));
    CheckPlaces(header, list, storedNames, cp);

    if (uint64_t(stub.size()) + kHeaderSize + list.size() + cab.size() > 0xFFFFFFFFu)
        throw ToolError("the package would exceed 4 GB");
    result.package = ComposePackage(stub, header, list, cab);
    return result;
}
