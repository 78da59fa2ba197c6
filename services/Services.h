// Small system services over Win32 that the driver and both sequences share.
// Each is a free function without state of its own.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "services/TempName.h"
#include "services/Win32.h"

// A free "_KTxxxxx<ext>" name in folder. A free name is not created; an
// existing file that can be opened exclusively is emptied and reused.
// Raises "Too many files in <folder\>" when every name is taken.
std::string UniqueTempName(const std::string& folder, const std::string& extension);
// GetWindowsDirectoryA, at most 259 characters.
std::string WindowsFolder();
// Always the Windows folder's "Temp", absolute; TEMP and TMP are not read,
// and the folder is neither created nor tested.
std::string TempFolder();
// Opens file with its default action and waits up to waitMs (when positive)
// for it to become idle. The started process, or an empty handle when
// nothing was started.
UniqueHandle LaunchProgram(const std::string& file, const std::string& parameters, int waitMs);
// Writes a .lnk file through the shell link class; the working folder is the
// target's folder. Returns the HRESULT of the last step performed and never
// raises. A link path that does not fit MAX_PATH wide characters fails
// without writing anything.
HRESULT CreateShellLink(const std::string& target, const std::string& arguments, const std::string& linkFile,
                        const std::string& description, const std::string& iconFile, int iconIndex);
// Copies in 16 KB pieces, reporting each piece through GuiSetRange while the
// interface is active. False, with the target deleted, on any failure (a
// short write and a target that cannot be closed included).
bool CopyFileWithProgress(const std::string& source, const std::string& target);
// Creates the folder and any missing parents. Only an empty path raises
// ("Unable to create directory"); a folder that cannot be made is found out
// by whoever uses it.
void EnsureFolder(const std::string& path);
bool IsExistingFolder(const std::string& path);
// An existing entry that is not a folder.
bool IsExistingFile(const std::string& path);
// Removes the folder if it is empty; failures are silent.
void RemoveFolder(const std::string& path);
// FolderOfPath (services/Text.h) with the system code page's lead-byte test.
std::string FolderOf(const std::string& path);
