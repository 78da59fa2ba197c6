#include "tools/pack/Verdict.h"

#include <algorithm>
#include <cstdio>

#include "package/PathRules.h"
#include "tools/pack/CabWriter.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"
#include "tools/pack/Packer.h"
#include "tools/pack/ToolError.h"

namespace {

// A text of the package code as the tool's own strings hold it, every byte.
std::string Bytes(const String& text) { return std::string(text.c_str(), text.size()); }

void Damaged(InspectReport& r, const PackageReader& reader, StepOutcome failure, const std::string& reason)
{
    r.kind = FileKind::Damaged;
    r.failedStep = reader.Step();
    r.failure = failure;
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

// The most of a ShortcutList that is kept to be shown; the CRC and the
// place checks cover all of it.
constexpr uint32_t kShownList = 1 << 20;

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
    case FileKind::Damaged: return "damaged copy: the " + std::string(StepName(r.failedStep)) + " fails: " + r.reason;
    case FileKind::Installer:
        if (!r.cabinetError.empty())
            return "installer passes the stub's reading but its cabinet is damaged: " + r.cabinetError;
        return r.installError.empty() ? "valid installer (marker, header, shortcut list and payload are sound)"
                                      : "installer passes the stub's reading but cannot be installed: " + r.installError;
    case FileKind::Uninstaller: return "valid uninstaller (marker, header, shortcut list and payload are sound)";
    case FileKind::NotProgram: return "not a Windows program";
    case FileKind::NotAFile: return "not a file: it is " + r.reason;
    }
    return "";
}

bool HasMarker(const InspectReport& r)
{
    return r.kind != FileKind::Cabinet && r.kind != FileKind::NotAFile && r.kind != FileKind::NotProgram;
}

bool PackageIntact(const InspectReport& r) { return r.kind == FileKind::Installer || r.kind == FileKind::Uninstaller; }

// "none", or who signed it with which digest, and whether the package the
// signature covers passes the stub's reading.
std::string SignatureText(const InspectReport& r)
{
    if (!r.hasSignature)
        return "none";
    std::string s = "present, ";
    if (r.signature.error.empty())
        s += "subject \"" + r.signature.subject + "\", digest " + r.signature.digest;
    else
        s += "unreadable (" + r.signature.error + ")";
    return s + (PackageIntact(r) ? "; the package under it is intact" : "; the package under it is damaged");
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

// A header field as inspect shows it: a text quoted, a checksum in hex.
std::string FieldValue(const PackageHeader& h, const HeaderField& field, int codePage)
{
    if (field.kind == FieldKind::Text)
        return "\"" + Shown(h.Text(TextOf(field)), codePage) + "\"";
    const std::string key = field.key;
    const bool checksum = key.size() > 3 && key.compare(key.size() - 3, 3, "Crc") == 0;
    return checksum ? Hex(h.Number(field)) : std::to_string(h.Number(field));
}

std::string FieldJson(const PackageHeader& h, const HeaderField& field, int codePage)
{
    if (field.kind == FieldKind::Text)
        return Json(FromAnsi(h.Text(TextOf(field)), codePage));
    return std::to_string(h.Number(field));
}

// The fields after magic and size, in header order.
const HeaderField* FieldsBegin() { return &FieldOf(Field::ProductName); }
const HeaderField* FieldsEnd() { return std::end(kHeaderFields); }

} // namespace

namespace {

bool IsCabinet(const ByteSource& f)
{
    unsigned char sig[4] = {};
    if (f.Size() < 4)
        return false;
    ReadExactly(f, 0, sig, 4);
    return sig[0] == 'M' && sig[1] == 'S' && sig[2] == 'C' && sig[3] == 'F';
}

// The stub's headers. A file that is no Windows program ends here, but for
// a copy cut inside its marker: the stub calls that one damaged.
// False when the verdict is reached.
bool ReadProgram(InspectReport& r, const ByteSource& f)
{
    if (ReadPeHeaders(f, r.program) == PeStatus::Ok) {
        r.hasProgram = true;
        return true;
    }
    if (f.Size() > kMarkerOffset && f.Size() < kMarkerOffset + kMarkerSize) {
        unsigned char mz[2];
        ReadExactly(f, 0, mz, 2);
        if (mz[0] == 'M' && mz[1] == 'Z')
            return true;
    }
    r.kind = FileKind::NotProgram;
    return false;
}

// A package on a program of another kind than our stubs: sound for the
// reader, but no installer.
void NoteStubKind(InspectReport& r)
{
    const bool packed = !r.marker.IsBare() && r.marker.StubSize <= r.fileSize;
    if (r.hasProgram && CheckStubImage(r.program, packed ? r.marker.StubSize : r.fileSize) != StubFit::Ok)
        r.notes.push_back("not one of the two stub kinds (an i386 PE32 or x86-64 PE32+ GUI program, whole)");
}

// The details of a step that did not pass, in the words of its outcome.
std::string Reason(const InspectReport& r, const PackageReader& reader, StepOutcome outcome)
{
    const PackageMarker& m = reader.Marker();
    const PackageHeader& h = reader.Header();
    switch (outcome) {
    case StepOutcome::MarkerCutShort:
        return "the file ends inside the package marker (" + std::to_string(r.fileSize - kMarkerOffset) +
               " of its 12 bytes)";
    case StepOutcome::MarkerMagic: return "marker magic is " + Hex(m.magic) + ", not \"Pnon\"";
    case StepOutcome::SizeDiffers:
        return "file size " + std::to_string(r.fileSize) + " differs from PackageSize " + std::to_string(m.PackageSize);
    case StepOutcome::NotOwnSignature:
        return "file size " + std::to_string(r.fileSize) + " differs from PackageSize " + std::to_string(m.PackageSize) +
               ", and what follows the package is not the certificate table that the stub's security directory names";
    case StepOutcome::HeaderCutShort: return "the header at StubSize " + std::to_string(m.StubSize) + " is cut short";
    case StepOutcome::HeaderMagic:
        return "header magic " + Hex(h.Magic()) + " and size " + std::to_string(h.SizeField()) +
               " must be 0x11804033 and 738";
    case StepOutcome::TextLeavesPlace:
    case StepOutcome::RecordLeavesPlace: return r.field + " " + r.rule;
    case StepOutcome::CrcDiffers:
        return std::string(reader.Step() == PackageStep::Payload ? "payload" : "ShortcutList") + " CRC-32 is " +
               Hex(reader.BlockCrc()) + ", the header says " +
               Hex(reader.Step() == PackageStep::Payload ? h.PayloadCrc() : h.ShortcutListCrc());
    default: return OutcomeText(outcome);
    }
}

// Runs one step; false, with the verdict, when it does not pass.
bool Passes(InspectReport& r, const PackageReader& reader, StepOutcome outcome)
{
    if (outcome == StepOutcome::Passed)
        return true;
    if (outcome == StepOutcome::BareStub) {
        r.kind = FileKind::Bare;
        return false;
    }
    if (outcome == StepOutcome::TextLeavesPlace) {
        r.field = HeaderTextName(reader.TextFault().field);
        r.rule = NameRuleText(reader.TextFault().rule);
    } else if (outcome == StepOutcome::RecordLeavesPlace) {
        r.field = reader.BrokenRecord().target ? "shortcut target" : "shortcut name";
        r.rule = NameRuleText(reader.BrokenRecord().rule);
    }
    Damaged(r, reader, outcome, Reason(r, reader, outcome));
    return false;
}

// The shortcut list as the stub takes it, and the records of its first
// megabyte to be shown.
bool ReadShortcuts(InspectReport& r, PackageReader& reader)
{
    const bool passed = Passes(r, reader, reader.ReadShortcutList(kShownList));
    const String& kept = reader.ShortcutList();
    String rest = kept;
    ShortcutRecord record;
    while (TakeCompleteShortcut(rest, record))
        r.shortcuts.push_back(record);
    if (kept.size() < reader.Header().ShortcutListSize()) {
        r.notes.push_back("the ShortcutList has " + std::to_string(reader.Header().ShortcutListSize()) +
                          " bytes; the records of the first " + std::to_string(kept.size()) + " are shown");
    } else {
        // What a reader leaves over: a target it took off, then no CR.
        TakeShortcut(rest, record);
        r.unreadShortcutText = Bytes(rest);
    }
    if (reader.RecordsUnchecked())
        r.notes.push_back("a ShortcutList record at byte " + std::to_string(reader.UncheckedFrom()) +
                          " runs on for more than 1 MB; it and the records after it are not checked");
    return passed;
}

// What passes the stub's reading but would still fail in its extraction.
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

// The payload, and what it holds.
void ReadPayload(InspectReport& r, PackageReader& reader, const ByteSource& f)
{
    const PackageHeader& h = r.header;
    const bool uninstaller = h.UninstallMode() != 0;
    String pending, entry;
    auto take = [&](const unsigned char* p, size_t n) {
        if (!uninstaller)
            return;
        pending.Append(reinterpret_cast<const char*>(p), n);
        while (TakeListEntry(pending, entry))
            r.installedFiles.push_back(Bytes(entry));
    };
    r.installedFilesUtf8 = reader.Record().Asks(kAskUtf8FileList);
    if (!Passes(r, reader, reader.ReadPayload(take))) {
        r.installedFiles.clear();
        return;
    }
    const uint64_t at = reader.PayloadOffset();
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
    // The stub's own reader, step by step.
    PackageReader reader(f, ZlibCrc32Update);
    const StepOutcome marker = reader.ReadMarker();
    r.marker = reader.Marker();
    if (reader.Signature().size != 0) {
        r.hasSignature = true;
        r.signature = ReadSignature(f, reader.Signature());
    }
    NoteStubKind(r);
    if (!Passes(r, reader, marker))
        return r;
    const StepOutcome header = reader.ReadHeader();
    r.hasHeader = header != StepOutcome::HeaderCutShort;
    r.header = reader.Header();
    if (Passes(r, reader, header) && ReadShortcuts(r, reader))
        ReadPayload(r, reader, f);
    return r;
}

InspectReport InspectFile(const std::vector<unsigned char>& file) { return InspectFile(BufferSource(file)); }

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
    if (HasMarker(r))
        line("marker: magic " + Hex(r.marker.magic) + ", StubSize " + std::to_string(r.marker.StubSize) +
             ", PackageSize " + std::to_string(r.marker.PackageSize));
    if (HasMarker(r))
        line("signature: " + SignatureText(r));
    if (r.hasHeader) {
        const PackageHeader& h = r.header;
        line("header: magic " + Hex(h.Magic()) + ", size " + std::to_string(h.SizeField()));
        for (const HeaderField* f = FieldsBegin(); f != FieldsEnd(); ++f)
            line("  " + std::string(f->key) + ": " + FieldValue(h, *f, cp));
        line("shortcuts: " + std::to_string(r.shortcuts.size()));
        for (const ShortcutRecord& s : r.shortcuts)
            line("  \"" + Shown(Bytes(s.name), cp) + "\" -> \"" + Shown(Bytes(s.target), cp) + "\"");
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
            line("  " + (r.installedFilesUtf8 ? p : Shown(p, cp)));
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
    if (r.kind == FileKind::Damaged)
        o += ",\"failedStep\":" + Json(StepName(r.failedStep)) + ",\"failure\":" + Json(OutcomeText(r.failure));
    if (!r.field.empty())
        o += ",\"field\":" + Json(r.field) + ",\"rule\":" + Json(r.rule);
    o += ",\"fileSize\":" + std::to_string(r.fileSize);
    if (r.hasProgram)
        o += ",\"stub\":{\"machine\":" + Json(MachineName(r.program.machine)) +
             ",\"bits\":" + std::to_string(PeBits(r.program)) + "}";
    if (HasMarker(r)) {
        o += ",\"marker\":{\"magic\":" + std::to_string(r.marker.magic) + ",\"StubSize\":" +
             std::to_string(r.marker.StubSize) + ",\"PackageSize\":" + std::to_string(r.marker.PackageSize) + "}";
        o += ",\"signature\":{\"present\":" + std::string(r.hasSignature ? "true" : "false");
        if (r.hasSignature)
            o += ",\"subject\":" + Json(r.signature.subject) + ",\"digest\":" + Json(r.signature.digest) +
                 ",\"error\":" + Json(r.signature.error) + ",\"packageIntact\":" + (PackageIntact(r) ? "true" : "false");
        o += "}";
    }
    if (r.hasHeader) {
        const PackageHeader& h = r.header;
        o += ",\"header\":{\"magic\":" + std::to_string(h.Magic()) + ",\"size\":" + std::to_string(h.SizeField());
        for (const HeaderField* f = FieldsBegin(); f != FieldsEnd(); ++f)
            o += ",\"" + std::string(f->key) + "\":" + FieldJson(h, *f, cp);
        o += "}";
        o += ",\"shortcuts\":[";
        for (size_t i = 0; i < r.shortcuts.size(); ++i)
            o += std::string(i ? "," : "") + "{\"name\":" + Json(FromAnsi(Bytes(r.shortcuts[i].name), cp)) +
                 ",\"target\":" + Json(FromAnsi(Bytes(r.shortcuts[i].target), cp)) + "}";
        o += "],\"unreadShortcutText\":" + Json(FromAnsi(r.unreadShortcutText, cp));
    }
    if (r.hasCabinet)
        o += ",\"cabinet\":" + CabinetJson(r, cp);
    if (r.kind == FileKind::Uninstaller) {
        o += ",\"installedFiles\":[";
        for (size_t i = 0; i < r.installedFiles.size(); ++i)
            o += std::string(i ? "," : "") +
                 Json(r.installedFilesUtf8 ? r.installedFiles[i] : FromAnsi(r.installedFiles[i], cp));
        o += "]";
    }
    o += ",\"notes\":[";
    for (size_t i = 0; i < r.notes.size(); ++i)
        o += std::string(i ? "," : "") + Json(r.notes[i]);
    return o + "]}\n";
}
