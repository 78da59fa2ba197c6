// `cabsetup inspect`: what a file is, seen the way the stub sees it
// (checks 1 to 6), plus its header, shortcuts and cabinet directory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/Package.h"
#include "package/PeImage.h"
#include "package/TextLists.h"
#include "tools/pack/CabReader.h"

enum class FileKind { Cabinet, Bare, Damaged, Installer, Uninstaller, NotProgram };

struct InspectReport {
    FileKind kind = FileKind::Bare;
    int failedCheck = 0;  // 2..6 for a damaged copy
    std::string reason;   // why it is damaged
    std::string field;    // the text that leads outside its place, if that is why
    std::string rule;     // and the rule it breaks
    uint64_t fileSize = 0;
    PeImage program; // the stub's headers, unless the kind is Cabinet or NotProgram

    PackageMarker marker;
    bool hasHeader = false;
    PackageHeader header;
    std::vector<ShortcutRecord> shortcuts;
    std::string unreadShortcutText; // what a reader leaves over

    bool hasCabinet = false;
    CabInfo cabinet;
    std::string cabinetError; // empty: libmspack decoded every entry

    std::vector<std::string> installedFiles; // uninstaller payload
    std::vector<std::string> notes;          // sound for the stub, but odd
};

InspectReport InspectFile(const std::vector<unsigned char>& file);
std::string RenderText(const InspectReport& report, int codePage);
std::string RenderJson(const InspectReport& report, int codePage);
// 0 for a bare stub or a sound package or cabinet; 1 for a damaged copy, a
// cabinet that does not decode, or a file that is not a Windows program.
int InspectExitStatus(const InspectReport& report);
