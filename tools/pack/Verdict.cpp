#include "tools/pack/Verdict.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "package/LittleEndian.h"
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

constexpr uint32_t kCabHeaderSize = 36; // CFHEADER without reserve fields

void ReadPayloadCabinet(InspectReport& r, const ByteSource& cab)
{
    r.hasCabinet = true;
    try {
        // Readers stop at the size the cabinet gives itself (cbCabinet);
        // bytes after it are named, not taken for damage.
        uint64_t size = cab.Size();
        unsigned char head[12];
        if (size >= sizeof head && cab.ReadAt(0, head, sizeof head) == sizeof head && GetU32(head + 8) >= kCabHeaderSize &&
            GetU32(head + 8) < size) {
            r.notes.push_back(std::to_string(size - GetU32(head + 8)) + " bytes follow the cabinet (cbCabinet " +
                              std::to_string(GetU32(head + 8)) + "); cabinet readers leave them unread");
            size = GetU32(head + 8);
        }
        const SliceSource own(cab, 0, size);
        r.cabinet = ReadCabinetDirectory(own);
        // Without entries there is nothing to decode (libmspack would call
        // it damaged, the platform's decompressor takes it): an installer's
        // own check names what is wrong with it.
        if (!r.cabinet.files.empty())
            VerifyCabinet(own);
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

std::string HexBytes(const unsigned char* bytes, size_t count)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        s += kDigits[bytes[i] >> 4];
        s += kDigits[bytes[i] & 15];
    }
    return s;
}

// count bytes at offset, or false when the file ends before them.
bool ReadAll(const ByteSource& f, uint64_t offset, unsigned char* out, size_t count)
{
    return offset <= f.Size() && f.Size() - offset >= count && f.ReadAt(offset, out, count) == count;
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

bool HasMarker(const InspectReport& r)
{
    return r.kind != FileKind::Cabinet && r.kind != FileKind::NotAFile && r.kind != FileKind::NotProgram;
}

bool PackageIntact(const InspectReport& r) { return r.kind == FileKind::Installer || r.kind == FileKind::Uninstaller; }

// A signature that is there but does not hold: the file changed after
// signing, the signer did not sign what it holds, or --ca-file does not
// trust it.
bool SignatureFails(const InspectReport& r)
{
    if (!r.hasSignature)
        return r.caRequired && PackageIntact(r);
    const SignatureInfo& s = r.signature;
    if (s.check == SignatureCheck::DigestMismatch || s.check == SignatureCheck::BadSignature)
        return true;
    return r.caRequired && (s.check != SignatureCheck::Valid || !s.chainError.empty());
}

// Whether --ca-file trusts the signer: "not checked", "verified" or why not.
std::string ChainText(const SignatureInfo& s)
{
    if (!s.chainChecked)
        return "not checked";
    return s.chainError.empty() ? "verified" : "not trusted: " + s.chainError;
}

// "none", or whether it covers the file and who signed it, and whether the
// package the signature covers passes the stub's reading.
std::string SignatureText(const InspectReport& r)
{
    if (!r.hasSignature)
        return "none";
    const SignatureInfo& sig = r.signature;
    std::string s;
    switch (sig.check) {
    case SignatureCheck::Valid:
        s = "valid digest, signed by \"" + sig.subject + "\" (" + sig.digest + ")";
        if (sig.chainChecked)
            s += ", chain " + ChainText(sig);
        break;
    case SignatureCheck::DigestMismatch: s = "digest mismatch (the file was changed after signing)"; break;
    case SignatureCheck::BadSignature:
        s = "broken (\"" + sig.subject + "\" did not sign the digest it holds)";
        break;
    case SignatureCheck::NotVerified:
        s = "present, not verified (" + (sig.error.empty() ? sig.why : sig.error) + ")";
        break;
    }
    return s + (PackageIntact(r) ? "; the package under it is intact" : "; the package under it is damaged");
}

std::string Verdict(const InspectReport& r)
{
    switch (r.kind) {
    case FileKind::Cabinet: return r.cabinetError.empty() ? "cabinet, every entry decodes" : "damaged cabinet: " + r.cabinetError;
    case FileKind::Bare: return "bare stub (no package): the stub shows its notice";
    case FileKind::Damaged: return "damaged copy: the " + std::string(StepName(r.failedStep)) + " fails: " + r.reason;
    case FileKind::Installer:
    case FileKind::Uninstaller:
        if (SignatureFails(r))
            return std::string(KindName(r.kind)) + " passes the stub's reading but its signature does not hold: " +
                   (r.hasSignature ? SignatureText(r) : "--ca-file asks for one and there is none");
        if (r.kind == FileKind::Uninstaller)
            return "valid uninstaller (marker, header, shortcut list and payload are sound)";
        if (!r.cabinetError.empty())
            return "installer passes the stub's reading but its cabinet is damaged: " + r.cabinetError;
        return r.installError.empty() ? "valid installer (marker, header, shortcut list and payload are sound)"
                                      : "installer passes the stub's reading but cannot be installed: " + r.installError;
    case FileKind::NotProgram: return "not a Windows program";
    case FileKind::NotAFile: return "not a file: it is " + r.reason;
    }
    return "";
}

// The length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), or 0.
size_t Utf8Length(const std::string& s, size_t i)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80)
        return 1;
    const size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    const unsigned char second = static_cast<unsigned char>(s[i + 1]);
    // Overlong forms, surrogates and what lies beyond U+10FFFF.
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second >= 0x90))
        return 0;
    return n;
}

// U+0080 to U+009F: the C1 controls, which terminals obey too.
bool IsC1(const std::string& s, size_t i, size_t n)
{
    return n == 2 && static_cast<unsigned char>(s[i]) == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
}

// The code page the package says its texts and names are in.
std::string RecordText(const PackageRecord& record)
{
    if (!record.present)
        return "none: the system's ANSI code page";
    std::string s = "code page ";
    if (record.codePage == 0)
        s += "0 (the system's ANSI code page)";
    else
        s += std::to_string(record.codePage) + (record.codePage == kCodePageUtf8 ? " (UTF-8)" : "");
    if (record.asks == 0)
        return s;
    s += ", asks " + Hex(record.asks);
    // Each bit this stub knows, by what it does.
    static const std::pair<PackageAsk, const char*> kAskNames[] = {
        {kAskUtf8FileList, "UTF-8 installed-file list"},
        {kAskSubFolders, "sub-folders"},
        {kAskAllUsers, "shortcuts for all users"},
    };
    std::string named;
    for (const auto& [ask, name] : kAskNames)
        if (record.Asks(ask))
            named += (named.empty() ? "" : ", ") + std::string(name);
    return named.empty() ? s : s + " (" + named + ")";
}

std::string Escaped(const char* format, unsigned value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

// Text for a terminal: every control character but the line ends, and
// every byte that is not UTF-8, as \xNN (a C1 control as \u00NN).
std::string Printable(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = Utf8Length(s, i);
        if (n == 0 || (n == 1 && c != '\n' && (c < 0x20 || c == 0x7F)))
            out += Escaped("\\x%02X", c);
        else if (IsC1(s, i, n))
            out += Escaped("\\u%04X", static_cast<unsigned char>(s[i + 1]));
        else
            out.append(s, i, n);
        i += n ? n : 1;
    }
    return out;
}

} // namespace

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = Utf8Length(s, i);
        if (n == 0) {
            // Not UTF-8: the byte as the text \xNN, so the document stays valid.
            out += Escaped("\\\\x%02X", c);
            ++i;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F)
                out += Escaped("\\u%04x", c);
            else if (IsC1(s, i, n))
                out += Escaped("\\u%04x", static_cast<unsigned char>(s[i + 1]));
            else
                out.append(s, i, n);
        }
        i += n;
    }
    return out + "\"";
}

namespace {

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

// An entry flagged 0x80 holds UTF-8, shown as it stands: a byte that is
// not UTF-8 is then escaped rather than replaced.
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
        return JsonString(FromAnsi(h.Text(TextOf(field)), codePage));
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
        const String& text = reader.Header().Text(reader.TextFault().field);
        r.field = HeaderTextName(reader.TextFault().field);
        r.rule = NameRuleText(reader.TextFault().rule, text.c_str(), text.size());
    } else if (outcome == StepOutcome::RecordLeavesPlace) {
        const RecordFault& fault = reader.BrokenRecord();
        const String& text = fault.target ? fault.record.target : fault.record.name;
        r.field = fault.target ? "shortcut target" : "shortcut name";
        r.rule = NameRuleText(fault.rule, text.c_str(), text.size());
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

// What passes the stub's reading but would still fail in its extraction,
// by the rules the packer applies: the names of the cabinet's entries, and
// every path the installation creates.
void CheckInstallable(InspectReport& r, int cp)
{
    if (!r.cabinetError.empty())
        return;
    std::vector<std::string> names, links;
    const std::string problem = CabinetNamesProblem(r.cabinet, cp, names, r.record.Asks(kAskSubFolders));
    if (!problem.empty()) {
        r.installError = "its cabinet: " + problem;
        return;
    }
    for (const ShortcutRecord& s : r.shortcuts)
        links.push_back(FromAnsi(Bytes(s.name), cp));
    r.installError = PathTooLong(InstallPathsOf(r.header, names, links, cp, r.record), r.program.machine);
}

// The payload, and what it holds.
void ReadPayload(InspectReport& r, PackageReader& reader, const ByteSource& f, int cp)
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
    if (!Passes(r, reader, reader.ReadPayload(take))) {
        r.installedFiles.clear();
        return;
    }
    // A signature's table, and the few bytes that align it, are the
    // signature line's; anything else after the payload is named.
    const uint64_t at = reader.PayloadOffset();
    const uint64_t end = at + h.PayloadSize();
    const uint64_t tail = r.hasSignature ? std::min<uint64_t>(reader.Signature().address, f.Size()) : f.Size();
    if (end < tail && (!r.hasSignature || tail - end >= 8))
        r.notes.push_back(std::to_string(tail - end) + " bytes follow the payload" +
                          (r.hasSignature ? " before the signature" : "") + " (PackageSize still matches)");
    if (uninstaller) {
        r.kind = FileKind::Uninstaller;
        if (h.UninstallMode() != 1)
            r.notes.push_back("UninstallMode is " + std::to_string(h.UninstallMode()) + "; only 1 is ever written");
        return;
    }
    r.kind = FileKind::Installer;
    ReadPayloadCabinet(r, SliceSource(f, at, h.PayloadSize()));
    CheckInstallable(r, cp);
    if (r.cabinetError.empty() && r.cabinet.files.size() != h.FileCount())
        r.notes.push_back("FileCount " + std::to_string(h.FileCount()) + " differs from the cabinet's " +
                          std::to_string(r.cabinet.files.size()) + " entries");
    if (!r.unreadShortcutText.empty())
        r.notes.push_back("the ShortcutList ends with an unfinished record");
}

} // namespace

namespace {

int TextCodePage(const InspectReport& r, int ansiCodePage)
{
    return r.record.present && r.record.codePage != 0 ? r.record.codePage : ansiCodePage;
}

// An uninstaller's list of installed files may be UTF-8 whatever the texts are in.
int FileListCodePage(const InspectReport& r, int textCodePage)
{
    return r.record.Asks(kAskUtf8FileList) ? kUtf8CodePage : textCodePage;
}

} // namespace

InspectReport InspectFile(const ByteSource& f, int ansiCodePage, const std::string& caFile)
{
    InspectReport r;
    r.caRequired = !caFile.empty();
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
    r.record = reader.Record();
    if (reader.Signature().size != 0) {
        r.hasSignature = true;
        r.signature = ReadSignature(f, reader.Signature(), caFile);
    }
    NoteStubKind(r);
    if (!Passes(r, reader, marker))
        return r;
    unsigned char slot[kDigestSlotSize];
    if (ReadAll(f, kDigestSlotOffset, slot, sizeof slot)) {
        r.digest = PackageDigest::Decode(slot);
        unsigned char got[kDigestSize];
        r.digestMatches = r.digest.present && PackageDigestOf(f, r.marker, got) && r.digest.Same(got);
    }
    const StepOutcome header = reader.ReadHeader();
    r.hasHeader = header != StepOutcome::HeaderCutShort;
    r.header = reader.Header();
    if (Passes(r, reader, header) && ReadShortcuts(r, reader))
        ReadPayload(r, reader, f, TextCodePage(r, ansiCodePage));
    // The stub checks this first; it is told last here, where the steps
    // before have said what they can of a package that is not the stub's.
    if ((r.kind == FileKind::Installer || r.kind == FileKind::Uninstaller) && r.digest.present && !r.digestMatches)
        Damaged(r, reader, StepOutcome::HeaderMagic,
                "the package differs from the digest in the stub's headers (SHA-256 " +
                    HexBytes(r.digest.bytes, kDigestSize) + ")");
    return r;
}

InspectReport InspectFile(const std::vector<unsigned char>& file, int ansiCodePage)
{
    return InspectFile(BufferSource(file), ansiCodePage);
}

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
    return r.cabinetError.empty() && r.installError.empty() && !SignatureFails(r) ? 0 : 1;
}

std::string RenderText(const InspectReport& r, int ansiCodePage)
{
    const int cp = TextCodePage(r, ansiCodePage);
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
        line("record: " + RecordText(r.record));
    if (HasMarker(r))
        line("digest: " + (r.digest.present ? "SHA-256 " + HexBytes(r.digest.bytes, kDigestSize) +
                                                  (r.digestMatches ? " (the package matches)" : " (the package differs)")
                                            : std::string("none (the stub reads whatever package its file holds)")));
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
            line("  " + Shown(p, FileListCodePage(r, cp)));
    }
    for (const std::string& n : r.notes)
        line("note: " + n);
    line("verdict: " + Verdict(r));
    return Printable(out);
}

namespace {

// The "cabinet" object: its directory, or only the error when it does not decode.
std::string CabinetJson(const InspectReport& r, int cp)
{
    std::string o = "{\"error\":" + JsonString(r.cabinetError);
    if (r.cabinetError.empty()) {
        const CabInfo& c = r.cabinet;
        o += ",\"size\":" + std::to_string(c.size) + ",\"flags\":" + std::to_string(c.flags) + ",\"folders\":[";
        for (size_t i = 0; i < c.folders.size(); ++i)
            o += std::string(i ? "," : "") + "{\"compression\":" + JsonString(CompressionName(c.folders[i].compression)) +
                 ",\"blocks\":" + std::to_string(c.folders[i].blockCount) + "}";
        o += "],\"entries\":[";
        for (size_t i = 0; i < c.files.size(); ++i) {
            const CabFileInfo& f = c.files[i];
            o += std::string(i ? "," : "") + "{\"name\":" + JsonString(EntryName(f, cp)) +
                 ",\"size\":" + std::to_string(f.size) + ",\"attribs\":" + std::to_string(f.attribs) +
                 ",\"run\":" + ((f.attribs & kAttrRun) ? "true" : "false") + ",\"date\":" +
                 JsonString(DosDate(f.date)) + ",\"time\":" + JsonString(DosTime(f.time)) + "}";
        }
        o += "]";
    }
    return o + "}";
}

} // namespace

std::string RenderJson(const InspectReport& r, int ansiCodePage)
{
    const int cp = TextCodePage(r, ansiCodePage);
    std::string o = "{";
    o += "\"kind\":" + JsonString(KindName(r.kind));
    o += ",\"verdict\":" + JsonString(Verdict(r));
    if (r.kind == FileKind::Damaged)
        o += ",\"failedStep\":" + JsonString(StepName(r.failedStep)) + ",\"failure\":" + JsonString(OutcomeText(r.failure));
    if (!r.field.empty())
        o += ",\"field\":" + JsonString(r.field) + ",\"rule\":" + JsonString(r.rule);
    o += ",\"fileSize\":" + std::to_string(r.fileSize);
    if (r.hasProgram)
        o += ",\"stub\":{\"machine\":" + JsonString(MachineName(r.program.machine)) +
             ",\"bits\":" + std::to_string(PeBits(r.program)) + "}";
    if (HasMarker(r)) {
        o += ",\"marker\":{\"magic\":" + std::to_string(r.marker.magic) + ",\"StubSize\":" +
             std::to_string(r.marker.StubSize) + ",\"PackageSize\":" + std::to_string(r.marker.PackageSize) + "}";
        o += ",\"record\":{\"present\":" + std::string(r.record.present ? "true" : "false");
        if (r.record.present)
            o += ",\"codePage\":" + std::to_string(r.record.codePage) + ",\"asks\":" + std::to_string(r.record.asks);
        o += "}";
        o += ",\"digest\":{\"present\":" + std::string(r.digest.present ? "true" : "false");
        if (r.digest.present)
            o += ",\"sha256\":" + JsonString(HexBytes(r.digest.bytes, kDigestSize)) +
                 ",\"matches\":" + (r.digestMatches ? "true" : "false");
        o += "}";
        o += ",\"signature\":{\"present\":" + std::string(r.hasSignature ? "true" : "false");
        if (r.hasSignature) {
            const SignatureInfo& sig = r.signature;
            o += ",\"check\":" + JsonString(SignatureCheckName(sig.check)) + ",\"why\":" + JsonString(sig.error.empty() ? sig.why : sig.error) +
                 ",\"subject\":" + JsonString(sig.subject) + ",\"digest\":" + JsonString(sig.digest) +
                 ",\"chain\":" + JsonString(ChainText(sig)) + ",\"packageIntact\":" + (PackageIntact(r) ? "true" : "false");
        }
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
            o += std::string(i ? "," : "") + "{\"name\":" + JsonString(FromAnsi(Bytes(r.shortcuts[i].name), cp)) +
                 ",\"target\":" + JsonString(FromAnsi(Bytes(r.shortcuts[i].target), cp)) + "}";
        o += "],\"unreadShortcutText\":" + JsonString(FromAnsi(r.unreadShortcutText, cp));
    }
    if (r.hasCabinet)
        o += ",\"cabinet\":" + CabinetJson(r, cp);
    if (r.kind == FileKind::Uninstaller) {
        o += ",\"installedFiles\":[";
        for (size_t i = 0; i < r.installedFiles.size(); ++i)
            o += std::string(i ? "," : "") + JsonString(FromAnsi(r.installedFiles[i], FileListCodePage(r, cp)));
        o += "]";
    }
    o += ",\"notes\":[";
    for (size_t i = 0; i < r.notes.size(); ++i)
        o += std::string(i ? "," : "") + JsonString(r.notes[i]);
    return o + "]}\n";
}
