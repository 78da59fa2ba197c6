#include "loader/Messages.h"

#include "services/Text.h"
#include "ui/uGUI.h"

int ShowMessage(const RunState& run, const std::string& text, UINT style)
{
    const char* caption = run.ModeCaption.empty() ? nullptr : run.ModeCaption.c_str();
    return MessageBoxA(GuiMessageOwner(), text.c_str(), caption, style);
}

void ShowStatus(const std::string& status, const std::string& longText)
{
    GuiSetStatus(ShortStr(status).c_str(), ShortStr(longText).c_str());
}

std::string ReadyToProceedText(const std::string& mode)
{
    return Format("%s is ready to proceed. Please, confirm that you want to continue...", {mode});
}

std::string PreparingText(const std::string& mode)
{
    return Format("Wait while the %s is preparing all nessecery files and settings for the setup process. "
                  "It might take up to a minute.",
                  {mode});
}
