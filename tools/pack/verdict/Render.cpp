#include "tools/pack/verdict/Verdict.h"

#include <cstdio>
#include <utility>

#include "tools/pack/CodePage.h"
#include "tools/pack/verdict/Words.h"

namespace {

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

// What the bits a package asks for mean, in brackets.
std::string AskNames(const PackageRecord& record)
{
    static const struct {
        PackageAsk ask;
        const char* name;
    } kNames[] = {
        {kAskUtf8FileList, "UTF-8 installed-file list"},
        {kAskSubFolders, "sub-folders"},
        {kAskAppsEntry, "Apps & features"},
        {kAskAllUsers, "shortcuts for all users"},
        {kAskUnattended, "unattended with /QUIET"},
        {kAskCopies, "copies of stored files"},
        {kAskUpgrade, "replaces an earlier installation"},
    };
    std::string names;
    for (const auto& n : kNames)
        if (record.Asks(n.ask))
            names += (names.empty() ? " (" : ", ") + std::string(n.name);
    return names.empty() ? names : names + ")";
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
    if (record.asks != 0)
        s += ", asks " + Hex(record.asks) + AskNames(record);
    return s;
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

// The product's key in Apps & features, for a package that registers it.
std::string AppsKey(const InspectReport& r, int codePage)
{
    if (!r.hasHeader || !r.record.Asks(kAskAppsEntry))
        return std::string();
    const String key = UninstallKeyName(HeaderString(r.header, HeaderText::CompanyFolder),
                                        HeaderString(r.header, HeaderText::InstallFolder));
    return "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
           FromAnsi(std::string(key.c_str(), key.size()), codePage);
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

// An uninstaller's list of installed files may be UTF-8 whatever the texts are in.
int FileListCodePage(const InspectReport& r, int textCodePage)
{
    return r.record.Asks(kAskUtf8FileList) ? kUtf8CodePage : textCodePage;
}

} // namespace

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
        // A 32-bit stub's key lands in the 32-bit view of 64-bit Windows.
        if (const std::string key = AppsKey(r, cp); !key.empty())
            line("apps & features: " + key +
                 (PeBits(r.program) == 32 ? " (WOW6432Node on 64-bit Windows)" : ""));
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
    if (r.record.Asks(kAskCopies)) {
        line("copies: " + std::to_string(r.copies.size()));
        for (const ShortcutRecord& c : r.copies)
            line("  \"" + Shown(Bytes(c.target), cp) + "\" -> \"" + Shown(Bytes(c.name), cp) + "\"");
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
        if (const std::string key = AppsKey(r, cp); !key.empty())
            o += ",\"appsKey\":" + JsonString(key);
    }
    if (r.hasCabinet)
        o += ",\"cabinet\":" + CabinetJson(r, cp);
    if (r.record.Asks(kAskCopies)) {
        o += ",\"copies\":[";
        for (size_t i = 0; i < r.copies.size(); ++i)
            o += std::string(i ? "," : "") + "{\"stored\":" + JsonString(FromAnsi(Bytes(r.copies[i].target), cp)) +
                 ",\"copy\":" + JsonString(FromAnsi(Bytes(r.copies[i].name), cp)) + "}";
        o += "]";
    }
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
