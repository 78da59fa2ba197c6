#include "services/MessageBox.h"

#include "services/Log.h"
#include "services/Text.h"

namespace {
bool unattended = false;
} // namespace

void ShowNoBoxes(bool on) { unattended = on; }

bool ShowsBoxes() { return !unattended; }

void PauseForWindows(DWORD ms)
{
    if (!unattended)
        Sleep(ms);
}

int ShowBox(HWND owner, const char* caption, const WString& text, UINT style)
{
    Log("", text);
    const UINT type = style & MB_TYPEMASK;
    const int answer = !unattended ? MessageBoxW(owner, text.c_str(), caption ? WidenAscii(caption).c_str() : nullptr, style)
                       : type == MB_YESNO ? IDNO
                       : type             ? IDCANCEL
                                          : IDOK;
    // A question's answer; a report has only its OK.
    if (style & MB_TYPEMASK)
        Log(answer == IDYES  ? "Answer: Yes"
            : answer == IDNO ? "Answer: No"
            : answer == IDOK ? "Answer: OK"
                             : "Answer: Cancel");
    return answer;
}
