// The INI manifest of `cabsetup pack`. Keys are the header fields' names;
// shortcuts are "Name=Target" lines of a [Shortcuts] section:
//
//   [Package]
//   ProductName=Example Viewer 2.0
//   InstallFolder=Example\Viewer
//   MakeUninstaller=1
//   [Shortcuts]
//   Example Viewer=viewer.exe
//
// UTF-8 text, ";" or "#" starts a comment line, key names in any letter
// case, a value may be put in double quotes to keep its outer spaces.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

// The header fields a manifest or an option can set, by their key names.
const std::vector<std::string>& ManifestKeys();

struct Manifest {
    std::map<std::string, std::string> fields; // key name as in ManifestKeys
    std::vector<std::pair<std::string, std::string>> shortcuts; // name, target
};

// Throws ToolError("manifest line N: ...") for an unknown section or key, a
// key given twice, or a line that is not "key=value".
Manifest ParseManifest(const std::string& text);
