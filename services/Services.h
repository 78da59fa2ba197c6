// Small system services over Win32 that the driver and both sequences share.
// Each is a free function without state of its own.
#pragma once
#include <windows.h>

#include <cstdint>

#include "package/String.h"
#include "services/TempName.h"
#include "services/Text.h"
#include "services/Win32.h"

// Creates a new "_KTxxxxx<ext>" file in folder the moment its name is
// chosen; whatever already has a candidate's name (file, folder or link) is
// never opened: the next name is tried. The search starts at a number from
// the system's random source. file then holds the new file for reading and
// writing, and others may only read it; flags go to CreateFileW (with
// FILE_FLAG_DELETE_ON_CLOSE the file goes when file is closed). Any other
// failure (no such folder, access denied) leaves file empty and name the
// name that failed. The error "Too many files in <folder\>" when every name
// is taken.
SetupError UniqueTempName(const WString& folder, const WString& extension, UniqueHandle& file,
                          WString& name, DWORD flags = 0);
// The same for a folder "_KTxxxxx" of this run's own. created false, with
// the name that failed, when it cannot be made.
SetupError UniqueTempFolder(const WString& folder, WString& path, bool& created);
// The first counter of a temporary name search, from the system's random
// source, so that nobody can prepare the names in advance.
uint32_t TempSearchStart();
// True when both files hold the same bytes; reads both from the start.
bool SameContent(HANDLE file, HANDLE other);
// Marks a file opened with DELETE access for deletion when its last handle
// closes. False when the system cannot (before Vista) or refuses.
bool DeleteOpenFile(HANDLE file);
// Starts the program that `written` has just written to path, with the
// command line "path" parameters, such that what runs is exactly what
// `reference` holds: the file is held from writing to starting, gets a new
// "_KTxxxxx.exe" name of its own while held (path then names it), starts
// suspended and resumes only when its mapped file still equals `reference`.
// The program gets the held file as its standard input, to read itself
// through, and `output` (when given) as its standard output: the handles it
// inherits. Closes `written`. False when nothing runs; path then names the
// file left.
bool StartCheckedCopy(UniqueHandle& written, WString& path, const WString& parameters, HANDLE reference,
                      HANDLE output = nullptr);
// 0 for a file on a disk with one name and no reparse point: one that an
// elevated run may write. ERROR_INVALID_NAME for a pipe or a device,
// ERROR_ACCESS_DENIED for a link of either kind (a reparse point, or a
// second name of a file that may lie where its owner never looks).
DWORD PlainFileError(HANDLE file);
// Opens path for new contents, never through what is planted at its name:
// a missing file is made; an existing one is opened itself (a link at the
// name is not followed), refused when it is no plain file (PlainFileError)
// and emptied. Nobody else may open it while held. Empty, with error,
// when it cannot be had.
UniqueHandle OpenToReplace(const WString& path, DWORD access, DWORD& error);
// A DLL from the system folder only, whatever the search order says.
HMODULE LoadSystemLibrary(const wchar_t* name);
// GetWindowsDirectoryW, at most 259 characters.
WString WindowsFolder();
// Always the Windows folder's "Temp", absolute; TEMP and TMP are not read,
// and the folder is neither created nor tested.
WString TempFolder();
// Opens file with its default action and waits up to waitMs (when positive)
// for it to become idle. The started process, or an empty handle when
// nothing was started.
UniqueHandle LaunchProgram(const WString& file, const WString& parameters, int waitMs);
// Writes a .lnk file through the shell link class; the working folder is the
// target's folder. Returns the HRESULT of the last step performed. A link path that does not fit MAX_PATH wide characters fails
// without writing anything.
HRESULT CreateShellLink(const WString& target, const WString& arguments, const WString& linkFile,
                        const WString& description, const WString& iconFile, int iconIndex);
// Told how far a copy has come: bytes done of the whole.
using CopyProgress = void (*)(int done, int size);
// Copies source into the open target in 16 KB pieces, reporting the start
// and each piece to progress. False on any failure (a short write
// included); the target is the caller's to delete.
bool CopyFileWithProgress(const WString& source, HANDLE target, CopyProgress progress);
// Creates the folder and any missing parents. Only an empty path fails
// ("Unable to create directory"); a folder that cannot be made is found out
// by whoever uses it.
SetupError EnsureFolder(const WString& path);
bool IsExistingFolder(const WString& path);
// An existing entry that is not a folder.
bool IsExistingFile(const WString& path);
// Whether a folder between root (ending in "\\") and path's file is a
// link or junction: what lies below one may be anywhere, so nothing is
// written or deleted through it. A level that does not exist is none.
bool LinkOnTheWay(const WString& root, const WString& path);
// Removes the folder if it is empty; failures are silent.
void RemoveFolder(const WString& path);
// FolderOfPath (services/Text.h).
inline WString FolderOf(const WString& path) { return FolderOfPath(path); }

// The package's stored bytes as UTF-16, by its code page (0: the system's
// ANSI code page). A byte the code page has no character for, or a
// code page the system lacks, gives U+FFFD or an empty text.
WString DecodeText(const char* bytes, std::size_t size, uint16_t codePage);
// UTF-8, for what leaves the stub as bytes of its own choosing (the log,
// the uninstaller's file list, names handed through the cabinet library).
String EncodeUtf8(const WString& text);
inline WString DecodeUtf8(const char* bytes) { return DecodeText(bytes, String::Length(bytes), 65001); }
