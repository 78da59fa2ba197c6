#include "loader/Messages.h"

#include "loader/CommandLine.h"
#include "services/Log.h"
#include "services/Text.h"
#include "ui/uGUI.h"

int ShowMessage(const char* caption, const String& text, UINT style)
{
    Log("", text);
    const int answer = MessageBoxA(GuiMessageOwner(), text.c_str(), caption, style);
    // A question's answer; a report has only its OK.
    if (style & MB_TYPEMASK)
        Log(answer == IDYES  ? "Answer: Yes"
            : answer == IDNO ? "Answer: No"
            : answer == IDOK ? "Answer: OK"
                             : "Answer: Cancel");
    return answer;
}

void ReportDamaged(const char* caption)
{
    // With the mode known the text names it, not the own file.
    ShowMessage(caption, DamagedCopyText(caption, String()), MB_ICONERROR);
}

void ShowStatus(const char* status, const char* longText)
{
    if (*status)
        Log("", status);
    GuiSetStatus(ShortStr(status).c_str(), ShortStr(longText).c_str());
}

void ShowFailed()
{
    GuiSetBusy(false);
    ShowStatus("Failed", "Setup operation was aborted with an exception. The error message is shown, and setup "
                         "will exit now.");
}

String ReadyToProceedText(const String& mode)
{
    return Format("%s is ready to proceed. Please, confirm that you want to continue...", {mode});
}

String PreparingText(const String& mode)
{
    return Format("Wait while the %s is preparing all nessecery files and settings for the setup process. "
                  "It might take up to a minute.",
                  {mode});
}
