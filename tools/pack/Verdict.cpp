#include "tools/pack/Verdict.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "package/PathRules.h"
#include "tools/pack/CabWriter.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/Packer.h"
#include "tools/pack/ToolError.h"

namespace {

void Damaged(InspectReport& r, int check, const std::string& reason)
{
    r.kind = FileKind::Damaged;
    r.failedCheck = check;
    r.reason = reason;
}

void ReadPayloadCabinet(InspectReport& r, const ByteSource& cab)
{
    r.hasCabinet = true;
    try {
        r.cabinet = ReadCabinetDirectory(cab);
        VerifyCabinet(cab);
    } catch (const ToolError& e) {
        r.cabinetError = e.what();
    }
}

constexpr size_t kPiece = 1 << 20;
// The most of a ShortcutList that is shown; the CRC covers all of it.
constexpr size_t kShownList = 1 << 20;

// CRC-32 of [at, at + size), read a piece at a time; calls keep with each
// piece. zlib's: the stub's function, several times faster.
template <typename Keep>
uint32_t StreamCrc(const ByteSource& f, uint64_t at, uint64_t size, Keep&& keep)
{
    std::vector<unsigned char> piece(static_cast<size_t>(std::min<uint64_t>(kPiece, size)));
    uint32_t crc = 0;
    for (uint64_t done = 0; done < size;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - done));
        f.ReadAt(at + done, piece.data(), n);
        crc = static_cast<uint32_t>(crc32(crc, piece.data(), static_cast<uInt>(n)));
        keep(piece.data(), n);
        done += n;
    }
    return crc;
}

std::string Hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string DosDate(uint16_t d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", 1980 + (d >> 9), (d >> 5) & 15u, d & 31u);
    return buf;
}

std::string DosTime(uint16_t t)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", t >> 11, (t >> 5) & 63u, (t & 31u) * 2);
    return buf;
}

const char* KindName(FileKind k)
{
    switch (k) {
    case FileKind::Cabinet: return "cabinet";
    case FileKind::Bare: return "bare stub";
    case FileKind::Damaged: return "damaged copy";
    case FileKind::Installer: return "installer";
    case FileKind::Uninstaller: return "uninstaller";
    case FileKind::NotProgram: return "not a program";
    case FileKind::NotAFile: return "not a file";
    }
    return "";
}

// "x86-64", or the machine's number when it has no name here.
std::string MachineName(uint16_t machine)
{
    if (const char* name = PeMachineName(machine))
        return name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", machine);
    return buf;
}

std::string Verdict(const InspectReport& r)
{
    switch (r.kind) {
    case FileKind::Cabinet: return r.cabinetError.empty() ? "cabinet, every entry decodes" : "damaged cabinet: " + r.cabinetError;
    case FileKind::Bare: return "bare stub (no package): the stub shows its notice";
    case FileKind::Damaged: return "damaged copy: check " + std::to_string(r.failedCheck) + " fails: " + r.reason;
    case FileKind::Installer:
        if (!r.cabinetError.empty())
            return "installer passes checks 1 to 6 but its cabinet is damaged: " + r.cabinetError;
        return r.installError.empty() ? "valid installer (checks 1 to 6 pass)"
                                      : "installer passes checks 1 to 6 but cannot be installed: " + r.installError;
    case FileKind::Uninstaller: return "valid uninstaller (checks 1 to 6 pass)";
    case FileKind::NotProgram: return "not a Windows program";
    case FileKind::NotAFile: return "not a file: it is " + r.reason;
    }
    return "";
}

std::string Json(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// Shows an ANSI text in UTF-8 with its control characters visible.
std::string Shown(const std::string& ansi, int codePage)
{
    std::string out;
    for (char c : FromAnsi(ansi, codePage)) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// An entry flagged 0x80 holds UTF-8, which needs no conversion to show.
std::string EntryName(const CabFileInfo& f, int codePage)
{
    return (f.attribs & kAttrUtf8Name) ? f.name : FromAnsi(f.name, codePage);
}

const std::pair<const char*, HeaderText> kTextFields[] = {
    {"ProductName", HeaderText::ProductName},     {"CompanyFolder", HeaderText::CompanyFolder},
    {"ShortName", HeaderText::ShortName},         {"LicenseFile", HeaderText::LicenseFile},
    {"InstallFolder", HeaderText::InstallFolder}, {"StartMenuFolder", HeaderText::StartMenuFolder},
    {"GuiLibrary", HeaderText::GuiLibrary}};

} // namespace

namespace {

bool IsCabinet(const ByteSource& f)
{
    unsigned char sig[4] = {};
    if (f.Size() < 4)
        return false;
    f.ReadAt(0, sig, 4);
    return sig[0] == 'M' && sig[1] == 'S' && sig[2] == 'C' && sig[3] == 'F';
}

// The stub's headers. A file that is no Windows program ends here, but for
// a copy cut inside its marker: the stub calls that one damaged (check 2).
// False when the verdict is reached.
bool ReadProgram(InspectReport& r, const ByteSource& f)
{
    if (ReadPeHeaders(f, r.program) == PeStatus::Ok) {
        r.hasProgram = true;
        return true;
    }
    if (f.Size() > kMarkerOffset && f.Size() < kMarkerOffset + kMarkerSize) {
        unsigned char mz[2];
        f.ReadAt(0, mz, 2);
        if (mz[0] == 'M' && mz[1] == 'Z')
            return true;
    }
    r.kind = FileKind::NotProgram;
    return false;
}

// A package on a program of another kind than our stubs: sound for the
// checks, but no installer.
void NoteStubKind(InspectReport& r)
{
    const bool packed = !r.marker.IsBare() && r.marker.StubSize <= r.fileSize;
    if (r.hasProgram && CheckStubImage(r.program, packed ? r.marker.StubSize : r.fileSize) != StubFit::Ok)
        r.notes.push_back("not one of the two stub kinds (an i386 PE32 or x86-64 PE32+ GUI program, whole)");
}

// Checks 1 to 3. A file that ends inside the marker leaves the rest of it
// zero, as the stub's short read does. False when the verdict is reached.
bool ReadMarker(InspectReport& r, const ByteSource& f)
{
    unsigned char bytes[kMarkerSize] = {};
    size_t have = f.Size() > kMarkerOffset ? static_cast<size_t>(std::min<uint64_t>(kMarkerSize, f.Size() - kMarkerOffset)) : 0;
    if (have)
        f.ReadAt(kMarkerOffset, bytes, have);
    r.marker = PackageMarker::Decode(bytes);
    switch (CheckMarker(r.marker, f.Size())) {
    case PackageState::Bare:
        r.kind = FileKind::Bare;
        return false;
    case PackageState::Damaged:
        if (have < kMarkerSize)
            Damaged(r, 2, "the file ends inside the package marker (" + std::to_string(have) + " of its 12 bytes)");
        else if (r.marker.magic != kMarkerMagic)
            Damaged(r, 2, "marker magic is " + Hex(r.marker.magic) + ", not \"Pnon\"");
        else
            Damaged(r, 3, "file size " + std::to_string(f.Size()) + " differs from PackageSize " +
                              std::to_string(r.marker.PackageSize));
        return false;
    case PackageState::Sound:
        break;
    }
    return true;
}

void PlaceFault(InspectReport& r, int check, const std::string& field, NameRule rule)
{
    r.field = field;
    r.rule = NameRuleText(rule);
    Damaged(r, check, field + " " + r.rule);
}

// Check 4.
bool ReadHeader(InspectReport& r, const ByteSource& f)
{
    const uint64_t headerAt = r.marker.StubSize;
    if (headerAt + kHeaderSize > f.Size()) {
        Damaged(r, 4, "the header at StubSize " + std::to_string(headerAt) + " is cut short");
        return false;
    }
    r.hasHeader = true;
    f.ReadAt(headerAt, r.header.Bytes(), kHeaderSize);
    const PackageHeader& h = r.header;
    if (h.Magic() != kHeaderMagic || h.SizeField() != kHeaderSize) {
        Damaged(r, 4, "header magic " + Hex(h.Magic()) + " and size " + std::to_string(h.SizeField()) +
                          " must be 0x11804033 and 738");
        return false;
    }
    if (!HeaderSound(h, r.marker)) {
        Damaged(r, 4, h.TextsValid() ? "the header's blocks reach past PackageSize"
                                     : "a header text is longer than 100 bytes");
        return false;
    }
    // Texts that would lead the stub outside their places: it refuses them
    // as damage right after these checks.
    HeaderNameFault fault = CheckHeaderNames(h);
    if (fault.rule != NameRule::Allowed) {
        PlaceFault(r, 4, HeaderTextName(fault.field), fault.rule);
        return false;
    }
    return true;
}

// Takes the records off the ShortcutList as its pieces come, where the stub
// takes them off the whole list (up to the first "|", then up to the first
// CR after it). Every record is checked for its places; those of the first
// megabyte are kept to be shown. A record that grows past a megabyte ends
// the reading, so memory stays small.
class ShortcutReader {
public:
    explicit ShortcutReader(InspectReport& r) : r_(r) {}

    void Feed(const unsigned char* p, size_t n)
    {
        if (stopped_)
            return;
        pending_.append(reinterpret_cast<const char*>(p), n);
        size_t pos = 0, bar, cr;
        while ((bar = pending_.find('|', pos)) != std::string::npos &&
               (cr = pending_.find('\r', bar + 1)) != std::string::npos) {
            ShortcutRecord rec{pending_.substr(pos, bar - pos), pending_.substr(bar + 1, cr - bar - 1)};
            Take(rec, cr + 1 - pos);
            pos = cr + 1;
        }
        pending_.erase(0, pos);
        if (pending_.size() > kShownList) {
            stopped_ = true;
            r_.notes.push_back("a ShortcutList record at byte " + std::to_string(taken_) +
                               " runs on for more than 1 MB; it and the records after it are not read");
            pending_.clear();
        }
    }

    // What is left is no record: the text a reader leaves over.
    void Finish()
    {
        if (shown_ < taken_)
            r_.notes.push_back("the ShortcutList has " + std::to_string(taken_) + " bytes of records; those of the first " +
                               std::to_string(shown_) + " are shown");
        ShortcutRecord rec;
        TakeShortcut(pending_, rec);
        r_.unreadShortcutText = pending_;
    }

    // The first record that leads outside its place: the field and the rule.
    std::string faultField;
    NameRule faultRule = NameRule::Allowed;

private:
    void Take(ShortcutRecord& rec, size_t bytes)
    {
        bool targetBroke;
        NameRule rule = CheckShortcutRecord(rec, targetBroke);
        if (rule != NameRule::Allowed && faultRule == NameRule::Allowed) {
            faultRule = rule;
            faultField = targetBroke ? "shortcut target" : "shortcut name";
        }
        taken_ += bytes;
        if (taken_ <= kShownList) {
            shown_ = taken_;
            r_.shortcuts.push_back(std::move(rec));
        }
    }

    InspectReport& r_;
    std::string pending_;
    uint64_t taken_ = 0, shown_ = 0;
    bool stopped_ = false;
};

// Check 5, and the places the records name, which the stub checks right
// after it.
bool ReadShortcuts(InspectReport& r, const ByteSource& f, uint64_t at)
{
    ShortcutReader reader(r);
    uint32_t crc = StreamCrc(f, at, r.header.ShortcutListSize(),
                             [&](const unsigned char* p, size_t n) { reader.Feed(p, n); });
    reader.Finish();
    if (crc != r.header.ShortcutListCrc()) {
        Damaged(r, 5, "ShortcutList CRC-32 is " + Hex(crc) + ", the header says " + Hex(r.header.ShortcutListCrc()));
        return false;
    }
    if (reader.faultRule != NameRule::Allowed) {
        PlaceFault(r, 5, reader.faultField, reader.faultRule);
        return false;
    }
    return true;
}

// What passes the stub's checks but would still fail in its extraction.
void CheckInstallable(InspectReport& r)
{
    if (!r.cabinetError.empty())
        return;
    if (r.cabinet.PartOfSet()) {
        r.installError = "its cabinet is part " + std::to_string(r.cabinet.setIndex + 1) + " of a multi-cabinet set";
        return;
    }
    std::vector<std::string> names;
    for (const CabFileInfo& file : r.cabinet.files)
        names.push_back(file.name);
    r.installError = NameTooLong(names, r.header.CompanyFolder(), r.header.InstallFolder(), kDefaultCodePage,
                                 ProgramFilesOf(r.program.machine));
}

// Check 6, and what the payload holds.
void ReadPayload(InspectReport& r, const ByteSource& f, uint64_t at)
{
    const PackageHeader& h = r.header;
    const bool uninstaller = h.UninstallMode() != 0;
    std::string pending, entry;
    uint32_t crc = StreamCrc(f, at, h.PayloadSize(), [&](const unsigned char* p, size_t n) {
        if (!uninstaller)
            return;
        pending.append(reinterpret_cast<const char*>(p), n);
        while (TakeListEntry(pending, entry))
            r.installedFiles.push_back(entry);
    });
    if (crc != h.PayloadCrc()) {
        r.installedFiles.clear();
        Damaged(r, 6, "payload CRC-32 is " + Hex(crc) + ", the header says " + Hex(h.PayloadCrc()));
        return;
    }
    if (at + h.PayloadSize() < f.Size())
        r.notes.push_back(std::to_string(f.Size() - at - h.PayloadSize()) +
                          " bytes follow the payload (PackageSize still matches)");
    if (uninstaller) {
        r.kind = FileKind::Uninstaller;
        if (h.UninstallMode() != 1)
            r.notes.push_back("UninstallMode is " + std::to_string(h.UninstallMode()) + "; only 1 is ever written");
        return;
    }
    r.kind = FileKind::Installer;
    ReadPayloadCabinet(r, SliceSource(f, at, h.PayloadSize()));
    CheckInstallable(r);
    if (r.cabinetError.empty() && r.cabinet.files.size() != h.FileCount())
        r.notes.push_back("FileCount " + std::to_string(h.FileCount()) + " differs from the cabinet's " +
                          std::to_string(r.cabinet.files.size()) + " entries");
    if (!r.unreadShortcutText.empty())
        r.notes.push_back("the ShortcutList ends with an unfinished record");
}

} // namespace

InspectReport InspectFile(const ByteSource& f)
{
    InspectReport r;
    r.fileSize = f.Size();
    if (IsCabinet(f)) {
        r.kind = FileKind::Cabinet;
        ReadPayloadCabinet(r, f);
        return r;
    }
    if (!ReadProgram(r, f))
        return r;
    const bool marked = ReadMarker(r, f);
    NoteStubKind(r);
    if (!marked || !ReadHeader(r, f))
        return r;
    const uint64_t at = uint64_t(r.marker.StubSize) + kHeaderSize;
    if (ReadShortcuts(r, f, at))
        ReadPayload(r, f, at + r.header.ShortcutListSize());
    return r;
}

InspectReport InspectFile(const std::vector<unsigned char>& file) { return InspectFile(MemorySource(file)); }

InspectReport NotAFileReport(const std::string& what)
{
    InspectReport r;
    r.kind = FileKind::NotAFile;
    r.reason = what;
    return r;
}

int InspectExitStatus(const InspectReport& r)
{
    if (r.kind == FileKind::Damaged || r.kind == FileKind::NotAFile || r.kind == FileKind::NotProgram)
        return 1;
    return r.cabinetError.empty() && r.installError.empty() ? 0 : 1;
}

std::string RenderText(const InspectReport& r, int cp)
{
    std::string out;
    auto line = [&](const std::string& s) { out += s + "\n"; };
    if (r.kind != FileKind::NotAFile)
        line("file size: " + std::to_string(r.fileSize));
    if (r.hasProgram)
        line("stub: " + MachineName(r.program.machine) + ", " + std::to_string(PeBits(r.program)) + "-bit");
    if (r.kind != FileKind::Cabinet && r.kind != FileKind::NotAFile && r.kind != FileKind::NotProgram)
        line("marker: magic " + Hex(r.marker.magic) + ", StubSize " + std::to_string(r.marker.StubSize) +
             ", PackageSize " + std::to_string(r.marker.PackageSize));
    if (r.hasHeader) {
        const PackageHeader& h = r.header;
        line("header: magic " + Hex(h.Magic()) + ", size " + std::to_string(h.SizeField()));
        for (const auto& [key, field] : kTextFields)
            line("  " + std::string(key) + ": \"" + Shown(h.Text(field), cp) + "\"");
        line("  FileCount: " + std::to_string(h.FileCount()));
        line("  PayloadSize: " + std::to_string(h.PayloadSize()) + ", PayloadCrc: " + Hex(h.PayloadCrc()));
        line("  ShortcutListSize: " + std::to_string(h.ShortcutListSize()) +
             ", ShortcutListCrc: " + Hex(h.ShortcutListCrc()));
        line("  UninstallMode: " + std::to_string(h.UninstallMode()) +
             ", MakeUninstaller: " + std::to_string(h.MakeUninstaller()) +
             ", UninstallLinkStyle: " + std::to_string(h.UninstallLinkStyle()));
        line("shortcuts: " + std::to_string(r.shortcuts.size()));
        for (const ShortcutRecord& s : r.shortcuts)
            line("  \"" + Shown(s.name, cp) + "\" -> \"" + Shown(s.target, cp) + "\"");
        if (!r.unreadShortcutText.empty())
            line("  unread: \"" + Shown(r.unreadShortcutText, cp) + "\"");
    }
    if (r.hasCabinet && r.cabinetError.empty()) {
        const CabInfo& c = r.cabinet;
        std::string methods;
        for (const CabFolderInfo& f : c.folders)
            methods += std::string(methods.empty() ? "" : ", ") + CompressionName(f.compression);
        line("cabinet: " + std::to_string(c.files.size()) + " entries, " + std::to_string(c.folders.size()) +
             " folder(s) (" + methods + "), " + std::to_string(c.size) + " bytes");
        for (const CabFileInfo& f : c.files) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "  %10u  %s %s  attr 0x%02X%s  ", f.size, DosDate(f.date).c_str(),
                          DosTime(f.time).c_str(), f.attribs, (f.attribs & kAttrRun) ? "  run" : "     ");
            line(buf + (f.attribs & kAttrUtf8Name ? f.name : Shown(f.name, cp)));
        }
    }
    if (r.kind == FileKind::Uninstaller) {
        line("installed files: " + std::to_string(r.installedFiles.size()));
        for (const std::string& p : r.installedFiles)
            line("  " + Shown(p, cp));
    }
    for (const std::string& n : r.notes)
        line("note: " + n);
    line("verdict: " + Verdict(r));
    return out;
}

namespace {

// The "cabinet" object: its directory, or only the error when it does not decode.
std::string CabinetJson(const InspectReport& r, int cp)
{
    std::string o = "{\"error\":" + Json(r.cabinetError);
    if (r.cabinetError.empty()) {
        const CabInfo& c = r.cabinet;
        o += ",\"size\":" + std::to_string(c.size) + ",\"flags\":" + std::to_string(c.flags) + ",\"folders\":[";
        for (size_t i = 0; i < c.folders.size(); ++i)
            o += std::string(i ? "," : "") + "{\"compression\":" + Json(CompressionName(c.folders[i].compression)) +
                 ",\"blocks\":" + std::to_string(c.folders[i].blockCount) + "}";
        o += "],\"entries\":[";
        for (size_t i = 0; i < c.files.size(); ++i) {
            const CabFileInfo& f = c.files[i];
            o += std::string(i ? "," : "") + "{\"name\":" + Json(EntryName(f, cp)) +
                 ",\"size\":" + std::to_string(f.size) + ",\"attribs\":" + std::to_string(f.attribs) +
                 ",\"run\":" + ((f.attribs & kAttrRun) ? "true" : "false") + ",\"date\":" +
                 Json(DosDate(f.date)) + ",\"time\":" + Json(DosTime(f.time)) + "}";
        }
        o += "]";
    }
    return o + "}";
}

} // namespace

std::string RenderJson(const InspectReport& r, int cp)
{
    std::string o = "{";
    o += "\"kind\":" + Json(KindName(r.kind));
    o += ",\"verdict\":" + Json(Verdict(r));
    o += ",\"failedCheck\":" + std::to_string(r.failedCheck);
    if (!r.field.empty())
        o += ",\"field\":" + Json(r.field) + ",\"rule\":" + Json(r.rule);
    o += ",\"fileSize\":" + std::to_string(r.fileSize);
    if (r.hasProgram)
        o += ",\"stub\":{\"machine\":" + Json(MachineName(r.program.machine)) +
             ",\"bits\":" + std::to_string(PeBits(r.program)) + "}";
    if (r.kind != FileKind::Cabinet && r.kind != FileKind::NotAFile && r.kind != FileKind::NotProgram)
        o += ",\"marker\":{\"magic\":" + std::to_string(r.marker.magic) + ",\"StubSize\":" +
             std::to_string(r.marker.StubSize) + ",\"PackageSize\":" + std::to_string(r.marker.PackageSize) + "}";
    if (r.hasHeader) {
        const PackageHeader& h = r.header;
        o += ",\"header\":{\"magic\":" + std::to_string(h.Magic()) + ",\"size\":" + std::to_string(h.SizeField());
        for (const auto& [key, field] : kTextFields)
            o += ",\"" + std::string(key) + "\":" + Json(FromAnsi(h.Text(field), cp));
        o += ",\"FileCount\":" + std::to_string(h.FileCount()) + ",\"PayloadSize\":" +
             std::to_string(h.PayloadSize()) + ",\"PayloadCrc\":" + std::to_string(h.PayloadCrc()) +
             ",\"ShortcutListSize\":" + std::to_string(h.ShortcutListSize()) +
             ",\"ShortcutListCrc\":" + std::to_string(h.ShortcutListCrc()) +
             ",\"UninstallMode\":" + std::to_string(h.UninstallMode()) +
             ",\"MakeUninstaller\":" + std::to_string(h.MakeUninstaller()) +
             ",\"UninstallLinkStyle\":" + std::to_string(h.UninstallLinkStyle()) + "}";
        o += ",\"shortcuts\":[";
        for (size_t i = 0; i < r.shortcuts.size(); ++i)
            o += std::string(i ? "," : "") + "{\"name\":" + Json(FromAnsi(r.shortcuts[i].name, cp)) +
                 ",\"target\":" + Json(FromAnsi(r.shortcuts[i].target, cp)) + "}";
        o += "],\"unreadShortcutText\":" + Json(FromAnsi(r.unreadShortcutText, cp));
    }
    if (r.hasCabinet)
        o += ",\"cabinet\":" + CabinetJson(r, cp);
    if (r.kind == FileKind::Uninstaller) {
        o += ",\"installedFiles\":[";
        for (size_t i = 0; i < r.installedFiles.size(); ++i)
            o += std::string(i ? "," : "") + Json(FromAnsi(r.installedFiles[i], cp));
        o += "]";
    }
    o += ",\"notes\":[";
    for (size_t i = 0; i < r.notes.size(); ++i)
        o += std::string(i ? "," : "") + Json(r.notes[i]);
    return o + "]}\n";
}
