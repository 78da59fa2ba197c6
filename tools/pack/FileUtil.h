// Small file helpers of the packaging tool (POSIX).
#pragma once
#include <string>
#include <vector>

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes);

// Writes next to path under a temporary name and renames it into place, so
// a failed run leaves no half-written output. Throws ToolError.
void WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, bool executable);

// Last path component (after the last '/').
std::string BaseName(const std::string& path);
