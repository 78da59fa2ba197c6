// The log of an unattended run ("/LOG=path"): one line per step, appended to
// a text file the user names. Without the switch nothing is written. Each
// line goes out with a WriteFile of its own, so whatever was logged before a
// run ends, however it ends, is in the file.
#pragma once
#include <windows.h>

#include "package/String.h"

// Opens path for appending, creating it when missing; others may read it
// and append to it too (an uninstaller's relaunched copy writes to the same
// log). A device name or a file that is not on a disk is refused. False,
// with the system's error, when there is no log to write to.
bool OpenLog(const String& path, DWORD& error);
// One line: local time, process id, what, then text with each run of CR
// and LF in it turned into one blank. Nothing without an open log.
void Log(const char* what, const String& text);
void Log(const char* what);
