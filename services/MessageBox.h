// The one door to message boxes, for every layer above: each box's text
// goes into the log, and so does the answer to a question.
#pragma once
#include <windows.h>

#include "package/String.h"

// caption nullptr: no caption of its own (the system's default). owner
// nullptr: no owner window.
int ShowBox(HWND owner, const char* caption, const WString& text, UINT style);
