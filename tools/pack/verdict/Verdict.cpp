#include "tools/pack/verdict/Verdict.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "package/LittleEndian.h"
#include "package/PathRules.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"
#include "tools/pack/InstallRules.h"
#include "tools/pack/ToolError.h"
#include "tools/pack/verdict/Words.h"

namespace {

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

// count bytes at offset, or false when the file ends before them.
bool ReadAll(const ByteSource& f, uint64_t offset, unsigned char* out, size_t count)
{
    return offset <= f.Size() && f.Size() - offset >= count && f.ReadAt(offset, out, count) == count;
}

} // namespace

// A text of the package code as the tool's own strings hold it, every byte.
std::string Bytes(const String& text) { return std::string(text.c_str(), text.size()); }

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

int TextCodePage(const InspectReport& r, int ansiCodePage)
{
    return r.record.present && r.record.codePage != 0 ? r.record.codePage : ansiCodePage;
}

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
    case StepOutcome::RecordLeavesPlace:
    case StepOutcome::CopyLeavesPlace: return r.field + " " + r.rule;
    case StepOutcome::CrcDiffers:
        if (reader.Step() == PackageStep::Copies)
            return "the copies list's CRC-32 " + Hex(reader.BlockCrc()) + " differs from its trailer's";
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
    } else if (outcome == StepOutcome::CopyLeavesPlace) {
        // Read without a decoder: each character is a stored byte.
        const CopyFault& fault = reader.BrokenCopy();
        const WString& wide = fault.copy ? fault.record.name : fault.record.target;
        std::string text;
        for (std::size_t i = 0; i < wide.size(); ++i)
            text += static_cast<char>(wide[i]);
        r.field = (fault.copy ? "copy \"" : "stored name \"") + text + "\"";
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
    // A copy is one more installed file: its path is measured, and it may
    // not be one file with another.
    std::set<std::string> installed;
    for (const std::string& name : names)
        installed.insert(SameFileForm(InstalledName(name, r.record.Asks(kAskSubFolders))));
    for (const ShortcutRecord& copy : r.copies) {
        names.push_back(FromAnsi(Bytes(copy.name), cp));
        if (!installed.insert(SameFileForm(InstalledName(names.back(), r.record.Asks(kAskSubFolders)))).second) {
            r.installError = "the copy \"" + names.back() + "\" would be one file with another installed file";
            return;
        }
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
    if (!Passes(r, reader, reader.ReadCopies()))
        return;
    String copies = reader.Copies();
    ShortcutRecord copy;
    while (TakeCompleteShortcut(copies, copy))
        r.copies.push_back(copy);
    // A signature's table, and the few bytes that align it, are the
    // signature line's; anything else after the payload and the copies
    // list is named.
    const uint64_t at = reader.PayloadOffset();
    const uint64_t end = at + h.PayloadSize() +
                         (reader.Record().Asks(kAskCopies) ? reader.Copies().size() + kCopiesTrailerSize : 0);
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
    if (r.cabinetError.empty() && r.cabinet.files.size() + r.copies.size() != h.FileCount())
        r.notes.push_back("FileCount " + std::to_string(h.FileCount()) + " differs from the cabinet's " +
                          std::to_string(r.cabinet.files.size()) + " entries" +
                          (r.copies.empty() ? "" : " and " + std::to_string(r.copies.size()) + " copies"));
    if (!r.unreadShortcutText.empty())
        r.notes.push_back("the ShortcutList ends with an unfinished record");
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
