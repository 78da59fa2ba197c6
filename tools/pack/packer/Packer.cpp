#include "tools/pack/packer/Packer.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <tuple>

#include "package/CRC32.h"
#include "package/PackageWriter.h"
#include "package/PathRules.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"
#include "tools/pack/InstallRules.h"
#include "tools/pack/pe/Signature.h"
#include "tools/pack/ToolError.h"

namespace {

struct Found {
    std::string path;
    std::string name; // UTF-8 stored name before conversion
    struct stat st;
};

std::string CodePageName(int codePage) { return "code page " + std::to_string(codePage); }

std::vector<std::string> SortedNames(const std::string& dirPath)
{
    DIR* dir = opendir(dirPath.c_str());
    if (!dir)
        throw ToolError("cannot read folder " + dirPath + ": " + std::strerror(errno));
    std::vector<std::string> names;
    while (dirent* d = readdir(dir)) {
        std::string n = d->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

bool Excluded(const std::vector<std::string>& patterns, const std::string& relPath)
{
    for (const std::string& p : patterns) {
        const bool whole = p.find('/') != std::string::npos;
        if (fnmatch(p.c_str(), whole ? relPath.c_str() : BaseName(relPath).c_str(), FNM_PATHNAME) == 0)
            return true;
    }
    return false;
}

namespace {

// Folders on the way down, to stop at a link that leads back up.
using FolderTrail = std::vector<std::pair<dev_t, ino_t>>;

void WalkFolder(const std::string& root, const std::string& rel, const CollectOptions& options, FolderTrail& trail,
                std::vector<Found>& out)
{
    std::string dirPath = rel.empty() ? root : root + "/" + rel;
    for (const std::string& n : SortedNames(dirPath)) {
        std::string relPath = rel.empty() ? n : rel + "/" + n;
        if (Excluded(options.exclude, relPath))
            continue;
        Found f;
        f.path = root + "/" + relPath;
        if (stat(f.path.c_str(), &f.st) != 0)
            throw ToolError("cannot read " + f.path + " (a broken link?)");
        if (S_ISDIR(f.st.st_mode)) {
            std::pair<dev_t, ino_t> id{f.st.st_dev, f.st.st_ino};
            if (std::find(trail.begin(), trail.end(), id) != trail.end())
                throw ToolError("folder " + f.path + " leads back into a folder above it");
            trail.push_back(id);
            WalkFolder(root, relPath, options, trail, out);
            trail.pop_back();
        } else if (S_ISREG(f.st.st_mode)) {
            f.name = Composed(n);
            if (options.keepNames) {
                f.name = Composed(relPath);
                std::replace(f.name.begin(), f.name.end(), '/', '\\');
            }
            out.push_back(f);
        } else {
            throw ToolError(f.path + " is " + FileKindName(f.st.st_mode) + ", not a regular file");
        }
    }
}

std::vector<Found> FindFiles(const std::vector<PackInput>& inputs, const CollectOptions& options)
{
    std::vector<Found> found;
    for (const PackInput& in : inputs) {
        if (in.stored.empty() && Excluded(options.exclude, BaseName(in.path)))
            continue;
        struct stat st;
        if (stat(in.path.c_str(), &st) != 0)
            throw ToolError("missing file: " + in.path);
        if (S_ISDIR(st.st_mode)) {
            if (!in.stored.empty())
                throw ToolError("a stored name needs a file, not the folder " + in.path);
            std::string root = in.path;
            while (root.size() > 1 && root.back() == '/')
                root.pop_back();
            FolderTrail trail{{st.st_dev, st.st_ino}};
            WalkFolder(root, "", options, trail, found);
        } else if (S_ISREG(st.st_mode)) {
            found.push_back(Found{in.path, Composed(in.stored.empty() ? BaseName(in.path) : in.stored), st});
        } else {
            throw ToolError(in.path + " is " + FileKindName(st.st_mode) + ", not a regular file");
        }
    }
    if (found.empty())
        throw ToolError("no files to pack");
    return found;
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

// The installer extracts *.* into one folder.
void CheckFlatNames(const std::vector<Found>& found)
{
    std::map<std::string, std::string> seen; // folded name -> source
    for (const Found& f : found) {
        if (f.name.find('.') == std::string::npos)
            throw ToolError("file name \"" + f.name + "\" has no \".\": the installer extracts only *.* (" + f.path +
                            ")");
        if (HasReservedCharacter(f.name))
            throw ToolError("file name \"" + f.name + "\" holds a character Windows does not allow in names (" +
                            f.path + ")");
        auto [it, fresh] = seen.emplace(FoldCase(f.name), f.path);
        if (!fresh)
            throw ToolError("two files are named \"" + f.name + "\": " + it->second + " and " + f.path +
                            " (the installer puts all files in one folder)");
    }
}

// --run and --attrib name a file by its stored name or by its path as given.
bool NameMatches(const std::string& wanted, const std::string& storedUtf8, const std::string& sourcePath)
{
    return wanted == sourcePath || FoldCase(Composed(wanted)) == FoldCase(storedUtf8);
}

std::string Ansi(const std::string& utf8, int codePage, const std::string& what)
{
    std::string out, bad;
    if (!ToAnsi(utf8, codePage, out, &bad))
        throw ToolError(what + " \"" + utf8 + "\" has a character that " + CodePageName(codePage) +
                        " cannot represent" + (bad.empty() ? std::string(" (it is not UTF-8)") : ": \"" + bad + "\""));
    return out;
}

int64_t FileTime(const struct stat& st, const CollectOptions& options)
{
    if (options.fixedTime)
        return *options.fixedTime;
    int64_t t = static_cast<int64_t>(st.st_mtime);
    return options.latestTime ? std::min(t, *options.latestTime) : t;
}

void ApplyFileOptions(const CollectOptions& options, const std::vector<Found>& found, std::vector<CabEntry>& entries)
{
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
            throw ToolError("attribute 0x80 (UTF-8 name) is not set by hand: the packer sets it on every non-ASCII "
                            "name it writes in UTF-8 (--codepage 65001)");
}

bool IsAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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

int ParseZone(const std::string& text)
{
    if (text == "UTC" || text == "utc")
        return 0;
    size_t i = 1;
    auto digits = [&](size_t most) {
        size_t from = i;
        while (i < text.size() && i - from < most && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - from;
    };
    bool ok = text.size() > 1 && (text[0] == '+' || text[0] == '-');
    size_t hourDigits = ok ? digits(2) : 0;
    int hours = hourDigits ? std::atoi(text.substr(1, hourDigits).c_str()) : 0, minutes = 0;
    ok = ok && hourDigits > 0;
    if (ok && i < text.size()) {
        if (text[i] == ':')
            ++i;
        size_t at = i;
        ok = digits(2) == 2 && i == text.size() && hourDigits == 2;
        minutes = ok ? std::atoi(text.substr(at, 2).c_str()) : 0;
    }
    if (!ok || hours > 14 || minutes > 59)
        throw ToolError("time zone \"" + text + "\": give UTC or an offset such as +09:00 or -05:00");
    return (text[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
}

std::vector<CabEntry> CollectEntries(const std::vector<PackInput>& inputs, const CollectOptions& options,
                                     std::vector<FileId>* ids)
{
    std::vector<Found> found = FindFiles(inputs, options);
    if (!options.keepNames)
        CheckFlatNames(found);
    std::vector<CabEntry> entries;
    for (const Found& f : found) {
        CabEntry e;
        e.name = Ansi(f.name, options.codePage, "file name");
        e.sourcePath = f.path;
        e.size = static_cast<uint64_t>(f.st.st_size);
        e.attribs = kAttrArchive | ((f.st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
        DosDateTime(FileTime(f.st, options), options.zoneMinutes, e.date, e.time);
        entries.push_back(std::move(e));
        if (ids)
            ids->push_back(FileId{f.st.st_dev, f.st.st_ino, f.path});
    }
    ApplyFileOptions(options, found, entries);
    // What gcab writes too: readers that know the flag take such a name as
    // UTF-8 whatever code page they would use.
    if (options.codePage == kUtf8CodePage)
        for (CabEntry& e : entries)
            if (!IsAscii(e.name))
                e.attribs |= kAttrUtf8Name;
    return entries;
}

namespace {

std::string FieldText(const std::map<std::string, std::string>& fields, const std::string& key, int codePage)
{
    auto it = fields.find(key);
    if (it == fields.end())
        return "";
    std::string ansi = Ansi(it->second, codePage, key);
    if (ansi.size() > kTextCapacity)
        throw ToolError(key + " is " + std::to_string(ansi.size()) + " bytes long in " + CodePageName(codePage) +
                        "; the header holds at most 100");
    if (ansi.find_first_of("\r\n") != std::string::npos)
        throw ToolError(key + " must not hold a line break");
    return ansi;
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

// Stored names here are decoded text (UTF-8), so a "\\" is never the
// second byte of a double-byte character.
bool IsPacked(const std::vector<std::string>& storedNames, const std::string& utf8)
{
    return std::any_of(storedNames.begin(), storedNames.end(),
                       [&](const std::string& n) { return FoldCase(n) == FoldCase(Composed(utf8)); });
}

// Why a stub of these headers is not one of the kinds we build, or "".
std::string StubMisfit(const PeImage& pe, uint64_t size)
{
    const char* machine = PeMachineName(pe.machine);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", pe.machine);
    switch (CheckStubImage(pe, size)) {
    case StubFit::Ok: return "";
    case StubFit::Dll: return "is a DLL, not a program";
    case StubFit::NotExecutable: return "is not marked as an executable program";
    case StubFit::OtherMachine:
        return "is for " + (machine ? std::string(machine) : "machine " + std::string(hex)) +
               "; a stub is for i386 (32-bit) or x86-64 (64-bit)";
    case StubFit::MachineMismatch:
        return "is for " + std::string(machine) + " but has a " + std::to_string(PeBits(pe)) +
               "-bit header; a stub is i386 PE32 or x86-64 PE32+";
    case StubFit::NotGui:
        return (pe.subsystem == kPeSubsystemConsole ? std::string("is a console program")
                                                    : "has subsystem " + std::to_string(pe.subsystem)) +
               "; a stub is a GUI program";
    case StubFit::CutShort:
        return "is cut short: its sections end at byte " + std::to_string(pe.dataEnd) + ", the file at " +
               std::to_string(size);
    }
    return "";
}

// A stub is one of the two kinds we build: an i386 PE32 or an x86-64 PE32+
// GUI program, whole, without a package. Only its headers are read. Returns
// its machine.
uint16_t CheckStub(const PackPlan& plan)
{
    const std::string what = "stub " + plan.stubPath;
    const FdSource file(plan.stub.get(), 0, plan.stubSize, plan.stubPath);
    PeImage pe;
    switch (ReadPeHeaders(file, pe)) {
    case PeStatus::Ok: break;
    case PeStatus::NotPe: throw ToolError(what + " is not a Windows program");
    case PeStatus::CutShort: throw ToolError(what + " is cut short: its headers pass the end of the file");
    }
    std::string misfit = StubMisfit(pe, plan.stubSize);
    if (!misfit.empty())
        throw ToolError(what + " " + misfit);
    // Its headers start after the DOS header, so the marker is in the file.
    unsigned char marker[kMarkerSize];
    ReadExactly(file, kMarkerOffset, marker, kMarkerSize);
    for (unsigned char b : marker)
        if (b != 0)
            throw ToolError(what + " already carries a package (its marker is not zero); use the bare stub");
    return pe.machine;
}

std::vector<std::string> ReadyCabinetNames(const CabInfo& info, const std::string& path, int cp, bool subFolders)
{
    std::vector<std::string> names;
    std::string problem = CabinetNamesProblem(info, cp, names, subFolders);
    if (!problem.empty())
        throw ToolError("cabinet " + path + ": " + problem);
    return names;
}

std::vector<std::string> PlanReadyCabinet(const PackRequest& req, PackPlan& plan)
{
    if (!req.inputs.empty())
        throw ToolError("give either --cab or files, not both");
    if (!req.collect.run.empty() || !req.collect.attribs.empty())
        throw ToolError("--run and --attrib cannot change a ready-made cabinet");
    struct stat st;
    plan.cab = OpenRegular(req.cabPath, st, "the cabinet");
    plan.cabPath = req.cabPath;
    plan.cabSize = static_cast<uint64_t>(st.st_size);
    plan.inputs.push_back(FileId{st.st_dev, st.st_ino, req.cabPath});
    CabInfo info;
    try {
        info = ReadCabinetDirectory(FdSource(plan.cab.get(), 0, plan.cabSize, plan.cabPath));
    } catch (const ToolError& e) {
        throw ToolError("unreadable cabinet " + req.cabPath + ": " + e.what());
    }
    return ReadyCabinetNames(info, req.cabPath, req.collect.codePage, !req.flat);
}

std::vector<std::string> PlanOwnCabinet(const PackRequest& req, PackPlan& plan)
{
    if (req.inputs.empty())
        throw ToolError("no files to pack: give files, a folder or --cab");
    // The input folder's tree is kept, or (flat) every file goes to the top
    // level under its own name.
    CollectOptions collect = req.collect;
    collect.keepNames = !req.flat;
    plan.entries = CollectEntries(req.inputs, collect, &plan.inputs);
    CheckCabinetEntries(plan.entries);
    plan.cabOptions = req.cab;
    std::vector<std::string> names;
    std::map<std::string, std::string> seen; // same-file form -> source
    for (const CabEntry& e : plan.entries) {
        names.push_back(EntryText(e.name, e.attribs, req.collect.codePage));
        const std::string name = InstalledName(names.back(), !req.flat);
        NameRule rule = PlaceRule(name, !req.flat);
        if (rule != NameRule::Allowed)
            throw ToolError("file name \"" + name + "\" " + NameRuleText(rule, name.data(), name.size()));
        auto [it, fresh] = seen.emplace(SameFileForm(name), e.sourcePath);
        if (!fresh)
            throw ToolError("\"" + it->second + "\" and \"" + e.sourcePath + "\" would be one file, \"" + name +
                            "\" (Windows ignores letter case)");
    }
    return names;
}

// Header texts and numbers.
void PlanHeader(const PackRequest& req, const std::vector<std::string>& storedNames, PackPlan& plan)
{
    const int cp = req.collect.codePage;
    plan.header = PackageHeader::Blank();
    // Every field the maker sets, as the table of header fields has them:
    // texts in the code page, numbers within their limits.
    std::map<std::string, std::string> ansi;
    for (const HeaderField& field : kHeaderFields) {
        if (!field.makerSets)
            continue;
        if (field.kind == FieldKind::Text) {
            ansi[field.key] = FieldText(req.fields, field.key, cp);
            plan.header.SetText(TextOf(field), ansi[field.key]);
        } else {
            const unsigned byDefault = &field == &FieldOf(Field::UninstallLinkStyle) ? 1 : 0;
            plan.header.SetNumber(field, ParseNumber(req.fields, field.key, byDefault, field.limit));
        }
    }
    for (HeaderText required : {HeaderText::ProductName, HeaderText::InstallFolder}) {
        const HeaderField& field = FieldOf(required);
        if (ansi[field.key].empty())
            throw ToolError(std::string(field.key) + " is empty: give " + FieldOption(field) + " or " + field.key +
                            " in the manifest");
    }

    const char* const licenseKey = FieldOf(HeaderText::LicenseFile).key;
    const std::string& license = ansi[licenseKey];
    if (!license.empty()) {
        if (license.find_first_of("\\/:*?") != std::string::npos)
            throw ToolError(std::string(licenseKey) + " \"" + req.fields.at(licenseKey) +
                            "\" must be a plain file name (no \\ / : * ?)");
        if (!IsPacked(storedNames, FromAnsi(license, cp)))
            throw ToolError(std::string(licenseKey) + " \"" + req.fields.at(licenseKey) +
                            "\" is not one of the packed files");
    }
    plan.header.SetFileCount(static_cast<uint32_t>(storedNames.size()));
    // The stub refuses texts that lead outside their places. The list size is
    // still zero here, so an empty StartMenuFolder passes; with shortcuts,
    // PlanShortcuts refuses it.
    const PackageHeader rules = RuleHeader(plan.header, cp);
    HeaderNameFault fault = CheckHeaderNames(rules);
    if (fault.rule != NameRule::Allowed) {
        const String& text = rules.Text(fault.field);
        throw ToolError(std::string(HeaderTextName(fault.field)) + " \"" + FromAnsi(plan.header.Text(fault.field), cp) +
                        "\" " + NameRuleText(fault.rule, text.c_str(), text.size()));
    }
}

// ShortcutList: "target|name\r" per record.
void PlanShortcuts(const PackRequest& req, const std::vector<std::string>& storedNames, bool haveStartMenu,
                   PackPlan& plan)
{
    const int cp = req.collect.codePage;
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
        if (!linkNames.insert(FoldCase(Composed(name))).second)
            throw ToolError("two shortcuts are named \"" + name + "\"");
        bool targetBroke;
        const std::string ruleTarget = RuleForm(Composed(target)), ruleName = RuleForm(Composed(name));
        NameRule rule = CheckShortcutRecord(ShortcutRecord{ruleTarget, ruleName}, targetBroke);
        if (rule != NameRule::Allowed)
            throw ToolError((targetBroke ? "shortcut target \"" + target : "shortcut name \"" + name) + "\" " +
                            NameRuleText(rule, targetBroke ? ruleTarget.data() : ruleName.data(),
                                         targetBroke ? ruleTarget.size() : ruleName.size()));
        if (!IsPacked(storedNames, target))
            plan.warnings.push_back("shortcut \"" + name + "\" points at \"" + target + "\", which is not a packed file");
        plan.shortcutList += t + "|" + n + "\r";
    }
    if (!plan.shortcutList.empty() && !haveStartMenu)
        throw ToolError("StartMenuFolder is empty: the shortcuts need a Start-menu folder");
    if (plan.header.MakeUninstaller() && plan.shortcutList.empty() && !plan.record.Asks(kAskAppsEntry))
        plan.warnings.push_back(
            "MakeUninstaller is set but there are no shortcuts: the installer writes its uninstaller only while it makes shortcuts");
}

// The most a cabinet of these entries can take: every block stored.
uint64_t CabinetBound(const std::vector<CabEntry>& entries)
{
    uint64_t total = 0, bound = 36 + 8;
    for (const CabEntry& e : entries) {
        total += e.Size();
        bound += 16 + e.name.size() + 1;
    }
    return bound + (total + kCabBlockSize - 1) / kCabBlockSize * (8 + 7) + total;
}

constexpr size_t kMaxIconBytes = 4 << 20;
constexpr uint64_t kMaxBrandedStubBytes = 64 << 20; // read whole; ours are some tens of kilobytes

// The stub with the product's icon and version resource, made in memory.
void PlanBranding(const PackRequest& req, PackPlan& plan)
{
    Branding brand = req.brand;
    if (!req.iconPath.empty()) {
        const std::string ico = ReadSmallFile(req.iconPath, kMaxIconBytes, "the icon");
        brand.icon.assign(ico.begin(), ico.end());
        brand.iconPath = req.iconPath;
        struct stat st;
        if (stat(req.iconPath.c_str(), &st) == 0)
            plan.inputs.push_back(FileId{st.st_dev, st.st_ino, req.iconPath});
    }
    if (!brand.Wanted())
        return;
    const auto field = [&](Field f) {
        auto it = req.fields.find(FieldOf(f).key);
        return it == req.fields.end() ? std::string() : it->second;
    };
    brand.productName = field(Field::ProductName);
    if (brand.publisher.empty())
        brand.publisher = field(Field::CompanyFolder);
    if (plan.stubSize > kMaxBrandedStubBytes)
        throw ToolError("stub " + plan.stubPath + " is too large to brand");
    std::vector<unsigned char> stub(plan.stubSize);
    ReadExactly(FdSource(plan.stub.get(), 0, plan.stubSize, plan.stubPath), 0, stub.data(), stub.size());
    plan.brandedStub = BrandStub(stub, brand);
}

// An entry's bytes as a source, from its file or from memory.
class EntryBytes {
public:
    explicit EntryBytes(const CabEntry& e)
        : file_(Open(e)), fromFile_(file_.get(), 0, e.Size(), e.sourcePath), fromData_(e.data),
          fromSource_(!e.sourcePath.empty())
    {
    }
    ByteSource Source() const { return fromSource_ ? ByteSource(fromFile_) : ByteSource(fromData_); }

private:
    static Fd Open(const CabEntry& e)
    {
        struct stat st;
        return e.sourcePath.empty() ? Fd() : OpenRegular(e.sourcePath, st);
    }
    Fd file_;
    FdSource fromFile_;
    BufferSource fromData_;
    bool fromSource_;
};

constexpr size_t kComparePiece = 1 << 16;

uint32_t ContentCrc(const CabEntry& e)
{
    const EntryBytes bytes(e);
    std::vector<unsigned char> piece(kComparePiece);
    uint32_t crc = 0;
    for (uint64_t at = 0; at < e.Size(); at += piece.size()) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), e.Size() - at));
        ReadExactly(bytes.Source(), at, piece.data(), want);
        crc = ZlibCrc32Update(crc, piece.data(), want);
    }
    return crc;
}

bool SameContent(const CabEntry& a, const CabEntry& b)
{
    const EntryBytes one(a), other(b);
    std::vector<unsigned char> x(kComparePiece), y(kComparePiece);
    for (uint64_t at = 0; at < a.Size(); at += x.size()) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(x.size(), a.Size() - at));
        ReadExactly(one.Source(), at, x.data(), want);
        ReadExactly(other.Source(), at, y.data(), want);
        if (std::memcmp(x.data(), y.data(), want) != 0)
            return false;
    }
    return true;
}

// Entries of one size, attributes and content are stored once: the first in
// cabinet order keeps its entry, each other one becomes a copy of it, which
// takes its time too. Files to be started stay entries (the extraction
// starts them), and so do names stored as UTF-8 in a package of another
// code page (the list is in the code page), and empty files (an entry costs
// no more than a copy). Only files that share their size with another are
// read.
void StoreCopiesOnce(PackPlan& plan)
{
    const uint16_t apart = kAttrRun | (plan.record.codePage == kCodePageUtf8 ? 0 : kAttrUtf8Name);
    std::map<uint64_t, unsigned> sizes;
    for (const CabEntry& e : plan.entries)
        ++sizes[e.Size()];
    std::map<std::tuple<uint64_t, uint16_t, uint32_t>, std::vector<size_t>> kept; // size, attribs, CRC
    std::vector<CabEntry> entries;
    for (CabEntry& e : plan.entries) {
        const CabEntry* original = nullptr;
        if (e.Size() > 0 && sizes[e.Size()] > 1 && !(e.attribs & apart)) {
            const uint16_t attribs = static_cast<uint16_t>(e.attribs & ~kAttrUtf8Name);
            std::vector<size_t>& same = kept[{e.Size(), attribs, ContentCrc(e)}];
            for (size_t i : same)
                if (!original && SameContent(entries[i], e))
                    original = &entries[i];
            if (!original)
                same.push_back(entries.size());
        }
        if (original) {
            plan.copies += original->name + "|" + e.name + "\r";
            ++plan.copyCount;
        } else {
            entries.push_back(std::move(e));
        }
    }
    plan.entries = std::move(entries);
}

} // namespace

PackPlan PlanPackage(const PackRequest& req)
{
    PackPlan plan;
    struct stat st;
    plan.stub = OpenRegular(req.stubPath, st, "the stub");
    plan.stubPath = req.stubPath;
    plan.stubSize = static_cast<uint64_t>(st.st_size);
    plan.inputs.push_back(FileId{st.st_dev, st.st_ino, req.stubPath});
    // Its headers tell where it installs; no more of it is read here.
    const uint16_t machine = CheckStub(plan);

    std::vector<std::string> storedNames =
        req.cabPath.empty() ? PlanOwnCabinet(req, plan) : PlanReadyCabinet(req, plan);
    plan.fileCount = static_cast<uint32_t>(storedNames.size());
    PlanHeader(req, storedNames, plan);
    plan.record.present = true;
    plan.record.codePage = static_cast<uint16_t>(req.collect.codePage);
    plan.record.asks = (req.flat ? 0 : kAskSubFolders) | (req.currentUser ? 0 : kAskAllUsers) |
                       (req.noAppsEntry ? 0 : kAskAppsEntry) | kAskUnattended | kAskUpgrade;
    PlanShortcuts(req, storedNames, !plan.header.StartMenuFolder().empty(), plan);
    std::vector<std::string> links;
    for (const auto& shortcut : req.shortcuts)
        links.push_back(Composed(shortcut.first));
    std::string tooLong =
        PathTooLong(InstallPathsOf(plan.header, storedNames, links, req.collect.codePage, plan.record), machine);
    if (!tooLong.empty())
        throw ToolError(tooLong);
    PlanBranding(req, plan);
    uint64_t payload = req.cabPath.empty() ? CabinetBound(plan.entries) : plan.cabSize;
    if (plan.stubSize + kHeaderSize + plan.shortcutList.size() + payload > 0xFFFFFFFFu)
        throw ToolError("the package would exceed 4 GB");

    // Only now is any content read beyond the stub's headers and a
    // cabinet's directory.
    if (plan.cab.get() >= 0) {
        try {
            VerifyCabinet(FdSource(plan.cab.get(), 0, plan.cabSize, plan.cabPath));
        } catch (const ToolError& e) {
            throw ToolError("unreadable cabinet " + plan.cabPath + ": " + e.what());
        }
    } else if (req.storeCopiesOnce) {
        StoreCopiesOnce(plan);
        if (plan.copyCount)
            plan.record.asks |= kAskCopies;
    }
    return plan;
}

namespace {

// The output written so far, as a source to read back.
class WrittenSource {
public:
    explicit WrittenSource(OutputSink& out) : out_(out) {}
    uint64_t Size() const { return out_.Position(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const
    {
        if (offset > Size())
            return 0;
        count = static_cast<size_t>(std::min<uint64_t>(count, Size() - offset));
        out_.ReadAt(offset, buffer, count);
        return count;
    }

private:
    OutputSink& out_;
};

// The package's digest into the slot in the stub's headers, where the
// running stub finds it in its image. A stub with no free room there (not
// one of ours) gets none: inspect says so.
void WriteDigest(OutputSink& out, ByteSource stub, uint32_t stubSize, uint32_t packageSize)
{
    unsigned char head[kDigestSlotEnd] = {};
    PeImage image;
    if (stubSize < sizeof head || stub.ReadAt(0, head, sizeof head) != sizeof head ||
        ReadPeImage(head, sizeof head, image) != PeStatus::Ok || image.sectionTableEnd > kDigestSlotOffset ||
        image.sizeOfHeaders < kDigestSlotEnd || !DigestSlotFree(head + kDigestSlotOffset))
        return;
    PackageMarker marker;
    marker.magic = kMarkerMagic;
    marker.StubSize = stubSize;
    marker.PackageSize = packageSize;
    PackageDigest digest;
    digest.present = true;
    const WrittenSource written(out);
    if (!PackageDigestOf(written, marker, digest.bytes))
        throw ToolError("cannot compute the package's digest");
    unsigned char slot[kDigestSlotSize];
    digest.Encode(slot);
    out.WriteAt(kDigestSlotOffset, slot, sizeof slot);
}

} // namespace

PackResult WritePackage(const PackPlan& plan, OutputSink& out)
{
    const FdSource file(plan.stub.get(), 0, plan.stubSize, plan.stubPath);
    const BufferSource branded(plan.brandedStub);
    const ByteSource stub = plan.brandedStub.empty() ? ByteSource(file) : ByteSource(branded);
    const uint32_t stubSize = static_cast<uint32_t>(plan.brandedStub.empty() ? plan.stubSize : plan.brandedStub.size());
    // The header goes out before the cabinet, whose size and checksum it
    // gets once the cabinet is written.
    if (WritePackageFront(out, stub, stubSize, plan.header, plan.shortcutList) != WriteResult::Written)
        throw ToolError("read past the end of the data");
    CabWritten cab;
    if (plan.cab.get() >= 0) {
        cab.size = plan.cabSize;
        cab.crc = CopyToSink(FdSource(plan.cab.get(), 0, plan.cabSize, plan.cabPath), out, 0);
    } else {
        cab = WriteCabinet(plan.entries, plan.cabOptions, out);
    }
    if (!plan.copies.empty())
        WriteCopies(out, String(plan.copies.data(), plan.copies.size()), ZlibCrc32Update);
    const uint64_t total = out.Position();
    if (total > 0xFFFFFFFFu)
        throw ToolError("the package would exceed 4 GB");
    FinishInstaller(out, stubSize,
                    CompleteHeader(plan.header, plan.shortcutList, static_cast<uint32_t>(cab.size), cab.crc, ZlibCrc32Update),
                    static_cast<uint32_t>(total));
    // Always, also for an ANSI code page: a package without a record reads
    // in the code page of whatever system runs it.
    WriteRecord(out, plan.record);

    WriteDigest(out, stub, stubSize, static_cast<uint32_t>(total));

    PackResult result;
    result.packageSize = total;
    result.fileCount = plan.fileCount;
    result.cabinetSize = static_cast<uint32_t>(cab.size);
    result.copyCount = plan.copyCount;
    result.warnings = plan.warnings;
    return result;
}
