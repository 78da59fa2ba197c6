#include "loader/Messages.h"

#include "loader/CommandLine.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/Text.h"
#include "ui/uGUI.h"

int ShowMessage(const char* caption, const WString& text, UINT style)
{
    return ShowBox(GuiMessageOwner(), caption, text, style);
}

void ReportDamaged(const char* caption)
{
    // With the mode known the text names it, not the own file.
    ShowMessage(caption, DamagedCopyText(caption, WString()), MB_ICONERROR);
}

void ShowCaption(const char* caption) { GuiSetCaption(WidenAscii(caption).c_str()); }

void ShowStatus(const char* status, const WString& longText)
{
    const WString statusText = WidenAscii(status);
    if (*status)
        Log("", statusText);
    GuiSetStatus(ShortStr(statusText).c_str(), ShortStr(longText).c_str());
}

void ShowStatus(const char* status, const char* longText) { ShowStatus(status, WidenAscii(longText)); }

void ShowFailed()
{
    GuiSetBusy(false);
    ShowStatus("Failed", "Setup operation was aborted with an exception. The error message is shown, and setup "
                         "will exit now.");
}

WString ReadyToProceedText(const char* mode)
{
    return WFormat("%s is ready to proceed. Please, confirm that you want to continue...", {mode});
}

WString PreparingText(const char* mode)
{
    return WFormat("Wait while the %s is preparing all nessecery files and settings for the setup process. "
                   "It might take up to a minute.",
                   {mode});
}
