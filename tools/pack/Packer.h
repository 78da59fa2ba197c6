// What `cabsetup pack` and `cabsetup cab` do, apart from the command line:
// gather the files, check them against what the stub can install, write the
// cabinet, and compose the package.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/pack/CabWriter.h"

struct PackInput {
    std::string path;   // file or folder
    std::string stored; // explicit stored name (UTF-8), `cab --entry` only
};

struct CollectOptions {
    int codePage = 1252;
    // Stored names may hold folders ("dir\\name"), lack a ".", and repeat.
    bool keepNames = false;
    std::vector<std::string> run;                             // names to flag 0x40
    std::vector<std::pair<std::string, std::string>> attribs; // name, letters or number
    std::optional<int64_t> fixedTime;                         // instead of each file's mtime
};

// Files in argument order; a folder contributes its regular files, found
// recursively and sorted by path. Throws ToolError for a missing file, a
// name the stub cannot install, or a --run/--attrib that names no file.
std::vector<CabEntry> CollectEntries(const std::vector<PackInput>& inputs, const CollectOptions& options);

// "rhsa" letters (x = run after install) or a number such as 0x27.
uint16_t ParseAttributes(const std::string& text);

struct PackRequest {
    std::string stubPath;
    std::map<std::string, std::string> fields; // header fields by key name, UTF-8
    std::vector<std::pair<std::string, std::string>> shortcuts; // name, target
    std::string cabPath;                      // ready-made cabinet, or...
    std::vector<PackInput> inputs;            // ...files to put in our own
    CollectOptions collect;
    CabWriteOptions cab;
};

struct PackResult {
    std::vector<unsigned char> package;
    uint32_t fileCount = 0;
    uint32_t cabinetSize = 0;
    std::vector<std::string> warnings;
};

// Throws ToolError with a one-line message on every refusal.
PackResult BuildPackage(const PackRequest& request);
