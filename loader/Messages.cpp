#include "loader/Messages.h"

#include "ui/uGUI.h"

int ShowMessage(const RunState& run, const std::string& text, UINT style)
{
    const char* caption = run.ModeCaption.empty() ? nullptr : run.ModeCaption.c_str();
    return MessageBoxA(GuiMessageOwner(), text.c_str(), caption, style);
}
