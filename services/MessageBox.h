// The one door to message boxes, for every layer above: each box's text
// goes into the log, and so does the answer to a question.
#pragma once
#include <windows.h>

#include "package/String.h"

// caption nullptr: no caption of its own (the system's default). owner
// nullptr: no owner window.
int ShowBox(HWND owner, const char* caption, const WString& text, UINT style);
// Unattended (/QUIET): no box is shown; each text still goes into the log,
// and a question takes the answer that leaves the machine as it was (No,
// Cancel).
void ShowNoBoxes(bool unattended);
bool ShowsBoxes();
// The waits that let the windows be seen, or let go of the files they
// showed; none when nothing is shown.
void PauseForWindows(DWORD ms);
