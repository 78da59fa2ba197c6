// Linked into stub_nogui (and ui_nogui_test) in place of the built-in
// windows: GuiCreate fails as it does where no window can be made, and every
// other operation does nothing. The run then goes on with message boxes
// alone.
#include "ui/uGUI.h"

namespace {

bool CreateFails() { return false; }
void Nothing() {}
HWND NoWindow() { return nullptr; }
bool Declined(const wchar_t*, const wchar_t*, uint16_t) { return false; }
void IgnoreText(const wchar_t*) {}
void IgnoreTexts(const wchar_t*, const wchar_t*) {}
void IgnoreNumber(int) {}
bool GoOn(int) { return true; }
void IgnoreRange(int, int, int) {}

} // namespace

const TGuiOperations& BuiltinGuiOperations()
{
    static const TGuiOperations noWindows = {CreateFails, Nothing,      Nothing,      NoWindow,
                                             Declined,    IgnoreText,   IgnoreTexts,  IgnoreNumber,
                                             GoOn,        IgnoreNumber, IgnoreRange};
    return noWindows;
}
