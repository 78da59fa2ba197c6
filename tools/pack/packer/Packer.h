// What `cabsetup pack` and `cabsetup cab` do, apart from the command line:
// gather the files, check them against what the stub can install, write the
// cabinet, and compose the package. Everything that file sizes, names and
// the header decide is checked before any file's content is read, and all
// of it before the output is opened.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "package/Package.h"
#include "tools/pack/pe/Branding.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/cab/CabWriter.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"

struct PackInput {
    std::string path;   // file or folder
    std::string stored; // explicit stored name (UTF-8), `cab --entry` only
};

struct CollectOptions {
    int codePage = kDefaultCodePage;
    // Stored names may hold folders ("dir\\name"), lack a ".", and repeat.
    bool keepNames = false;
    std::vector<std::string> run;                             // names to flag 0x40
    std::vector<std::pair<std::string, std::string>> attribs; // name, letters or number
    std::optional<int64_t> fixedTime;                         // instead of each file's mtime
    std::optional<int64_t> latestTime;                        // SOURCE_DATE_EPOCH: later times are clamped to it
    int zoneMinutes = 0;                                      // file times are written at this offset from UTC
    std::vector<std::string> exclude;                         // --exclude patterns
};

// Whether a --exclude pattern leaves out the file or folder at `relPath`
// (below a folder argument, "/" between names; a file argument by its
// name): a pattern with "/" matches the whole path, one without matches the
// last name; * ? and [...] match within one name (fnmatch with FNM_PATHNAME).
bool Excluded(const std::vector<std::string>& patterns, const std::string& relPath);

// Files in argument order; a folder contributes its files, found
// recursively and sorted by path, less what --exclude leaves out. Only looks at names and sizes. Throws
// ToolError for a missing file, anything but a regular file or folder, a
// name the stub cannot install, or a --run/--attrib that names no file.
// ids, when given, receives every file's identity.
std::vector<CabEntry> CollectEntries(const std::vector<PackInput>& inputs, const CollectOptions& options,
                                     std::vector<FileId>* ids = nullptr);

// "rhsa" letters (x = run after install) or a number such as 0x27.
uint16_t ParseAttributes(const std::string& text);

// "UTC", "+09:00", "-0530", "+9": minutes east of UTC. Throws ToolError.
int ParseZone(const std::string& text);

struct PackRequest {
    std::string stubPath;
    std::map<std::string, std::string> fields; // header fields by key name, UTF-8
    std::vector<std::pair<std::string, std::string>> shortcuts; // name, target
    std::string cabPath;                      // ready-made cabinet, or...
    std::vector<PackInput> inputs;            // ...files to put in our own
    CollectOptions collect;
    CabWriteOptions cab;
    // What the package asks for: sub-folders unless flat, the all-users
    // Start menu unless for the current user, an entry in Apps & features
    // unless not wanted; always to replace an earlier installation.
    bool flat = false;
    bool currentUser = false;
    bool noAppsEntry = false;
    // Identical files are stored once, the others installed as copies of it.
    bool storeCopiesOnce = true;
    // The product's icon (an .ico path) and version resource; the name and
    // the publisher's default come from the header's fields.
    std::string iconPath;
    Branding brand;
};

// A checked package, ready to be written. Holds the stub and a ready-made
// cabinet open, so what was checked is what gets written.
struct PackPlan {
    Fd stub;
    std::string stubPath;
    uint64_t stubSize = 0;
    std::vector<unsigned char> brandedStub; // the stub with the product's resources, when branded
    PackageHeader header;
    PackageRecord record; // the code page of the texts and names
    std::string shortcutList;
    Fd cab;                       // a ready-made cabinet, or...
    std::string cabPath;
    uint64_t cabSize = 0;
    std::vector<CabEntry> entries; // ...the files of our own
    // "stored|copy\r" for each file installed as a copy of an entry, in the
    // cabinet names' code page; the package then asks kAskCopies.
    std::string copies;
    uint32_t copyCount = 0;
    CabWriteOptions cabOptions;
    uint32_t fileCount = 0;
    std::vector<FileId> inputs;   // every file the package is made of
    std::vector<std::string> warnings;
};

struct PackResult {
    uint64_t packageSize = 0;
    uint32_t fileCount = 0;
    uint32_t cabinetSize = 0;
    uint32_t copyCount = 0; // of fileCount, installed as copies
    std::vector<std::string> warnings;
};

// Throws ToolError with a one-line message on every refusal.
PackPlan PlanPackage(const PackRequest& request);
PackResult WritePackage(const PackPlan& plan, OutputSink& out);
