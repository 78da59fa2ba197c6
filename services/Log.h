// The log of an unattended run ("/LOG=path"): one line per step, appended to
// a text file the user names, in UTF-8. Without the switch nothing is
// written. Each line goes out with a WriteFile of its own, so whatever was
// logged before a run ends, however it ends, is in the file.
#pragma once
#include <windows.h>

#include "package/String.h"

// Opens path for appending, creating it when missing; others may read it
// and append to it too (an uninstaller's relaunched copy writes to the same
// log). An elevated run must not be talked into writing elsewhere, so only
// a full local path is taken ("X:\..." with no ":" after the drive: no
// relative name, UNC, device or "\\?\" form, no stream), never a device
// name, and never a link: a reparse point or a file with more than one
// hard link at the path is refused. False, with the system's error, when
// there is no log to write to.
bool OpenLog(const WString& path, DWORD& error);
// One line: local time, process id, what, then text with each run of CR
// and LF in it turned into one blank. Nothing without an open log.
void Log(const char* what, const WString& text);
void Log(const char* what);
