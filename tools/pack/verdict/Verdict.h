// `cabsetup inspect`: what a file is, seen the way the stub sees it (the
// stub's own package reader, step by step: marker, header, shortcut list,
// payload), plus its header, shortcuts and cabinet directory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/Package.h"
#include "package/PackageDigest.h"
#include "package/PackageReader.h"
#include "package/PeImage.h"
#include "package/TextLists.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"
#include "tools/pack/pe/Signature.h"

enum class FileKind { Cabinet, Bare, Damaged, Installer, Uninstaller, NotProgram, NotAFile };

struct InspectReport {
    FileKind kind = FileKind::Bare;
    // For a damaged copy: the step of the package reader that failed, what
    // it found, and the details.
    PackageStep failedStep = PackageStep::Marker;
    StepOutcome failure = StepOutcome::Passed;
    std::string reason;   // why it is damaged; what it is when not a file
    std::string field;    // the text that leads outside its place, if that is why
    std::string rule;     // and the rule it breaks
    uint64_t fileSize = 0;
    bool hasProgram = false;
    PeImage program; // the stub's headers, when hasProgram

    PackageMarker marker;
    PackageRecord record; // the code page the package's texts are in
    // The digest in the stub's headers (package/PackageDigest.h), and
    // whether the package read from the file has it.
    PackageDigest digest;
    bool digestMatches = false;
    // The certificate table the stub accepts after the package, and whom
    // its signature names; the package under it is intact when the file is
    // a valid installer or uninstaller.
    bool hasSignature = false;
    SignatureInfo signature;
    bool caRequired = false; // --ca-file: a signature it trusts is required
    bool hasHeader = false;
    PackageHeader header;
    std::vector<ShortcutRecord> shortcuts;
    std::string unreadShortcutText; // what a reader leaves over

    bool hasCabinet = false;
    CabInfo cabinet;
    std::string cabinetError; // empty: libmspack decoded every entry
    std::string installError; // empty: nothing in the cabinet stops the extraction

    // The files installed as copies of an entry: target the stored name,
    // name the copy's.
    std::vector<ShortcutRecord> copies;
    std::vector<std::string> installedFiles; // uninstaller payload
    std::vector<std::string> notes;          // sound for the stub, but odd
};

// Reads the program headers, the marker, the header, the shortcut list and
// the cabinet's directory, and streams the payload for its CRC: memory
// stays small whatever the file's size.
// ansiCodePage: the system code page assumed for a package without a
// record (the stub reads those in the code page of the system it runs on).
// With a `caFile`, a package needs a signature whose chain it trusts.
InspectReport InspectFile(const ByteSource& file, int ansiCodePage = kAnsiDisplayCodePage,
                          const std::string& caFile = "");
InspectReport InspectFile(const std::vector<unsigned char>& file, int ansiCodePage = kAnsiDisplayCodePage);
// For a path that names no regular file; what says what it is ("a directory").
InspectReport NotAFileReport(const std::string& what);
// Texts in the record's code page; ansiCodePage for a package without one.
// Control characters and bytes that are not UTF-8 are shown escaped (\xNN).
std::string RenderText(const InspectReport& report, int ansiCodePage);
std::string RenderJson(const InspectReport& report, int ansiCodePage);
// 0 for a bare stub or a sound package or cabinet; 1 for a damaged copy, a
// cabinet that does not decode, no file at all, a file that is not a
// Windows program, or a signature that does not hold.
int InspectExitStatus(const InspectReport& report);

// A JSON string of UTF-8 text; a byte that is not UTF-8 becomes the text
// \xNN, so the document stays valid.
std::string JsonString(const std::string& text);
