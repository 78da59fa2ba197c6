#include "services/MessageBox.h"

#include "services/Log.h"
#include "services/Text.h"

int ShowBox(HWND owner, const char* caption, const WString& text, UINT style)
{
    Log("", text);
    const int answer =
        MessageBoxW(owner, text.c_str(), caption ? WidenAscii(caption).c_str() : nullptr, style);
    // A question's answer; a report has only its OK.
    if (style & MB_TYPEMASK)
        Log(answer == IDYES  ? "Answer: Yes"
            : answer == IDNO ? "Answer: No"
            : answer == IDOK ? "Answer: OK"
                             : "Answer: Cancel");
    return answer;
}
