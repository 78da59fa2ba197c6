// Small system services over Win32 that the driver and both sequences share.
// Each is a free function without state of its own.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

std::string CounterText(uint32_t counter);
// A free "_KTxxxxx<ext>" name in folder; raises "Too many files in <folder>".
std::string UniqueTempName(const std::string& folder, const std::string& extension);
std::string WindowsFolder();
std::string TempFolder();
// The started process (the caller owns the handle), or nullptr.
HANDLE LaunchProgram(const std::string& file, const std::string& parameters, int waitMs);
HRESULT CreateShellLink(const std::string& target, const std::string& arguments, const std::string& linkFile,
                        const std::string& description, const std::string& iconFile, int iconIndex);
bool CopyFileWithProgress(const std::string& source, const std::string& target);
void EnsureFolder(const std::string& path);
bool IsExistingFolder(const std::string& path);
bool IsExistingFile(const std::string& path);
void RemoveFolder(const std::string& path);
// FolderOfPath (services/Text.h) with the system code page's lead-byte test.
std::string FolderOf(const std::string& path);
