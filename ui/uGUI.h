// The one door through which setup talks to the user while it works: a table
// of eleven plain function pointers, an active flag, and the four functions
// that bring the interface up, take it down, test it and give the owner of
// message boxes.
//
// The operations below test GuiActive() themselves: while the interface is
// down they do nothing (and GuiLicense answers false), so callers just call
// them. Text arguments are UTF-16 short strings: callers cut them to 255
// characters (ShortStr) before the call; the operations copy them before
// use.
#pragma once
#include <windows.h>

#include <cstdint>

#include "package/String.h"
#include "services/SetupError.h"

struct TGuiOperations {
    bool (*GuiCreate)();                                                   // slot 1: false, no windows
    void (*GuiDestroy)();                                                  // slot 2
    void (*GuiHide)();                                                     // slot 3
    HWND (*GuiOwnerWindow)();                                              // slot 4
    // slot 5: codePage is the package's, for a license file without a BOM
    bool (*GuiLicense)(const wchar_t* name, const wchar_t* licenseFile, uint16_t codePage);
    void (*GuiSetCaption)(const wchar_t* caption);                         // slot 6
    void (*GuiSetStatus)(const wchar_t* status, const wchar_t* longText);  // slot 7
    void (*GuiShow)(int mode);                                             // slot 8
    bool (*GuiStep)(int count);                                            // slot 9: false, abort asked
    void (*GuiSetBusy)(int on);                                            // slot 10
    void (*GuiSetRange)(int position, int maximum, int minimum);           // slot 11
};

extern TGuiOperations GuiOperations;

// What GuiInit fills the table with: the built-in windows (ui/BuiltinGui.cpp).
// A test build of the stub links a table of its own in their place.
const TGuiOperations& BuiltinGuiOperations();

bool GuiActive();
bool GuiInit(const char* libraryPath);
void GuiDone();
HWND GuiMessageOwner();

// The icon that GuiShow puts into the progress window; the slot takes its
// number, and any other number keeps the icon shown.
enum class GuiMode : int { Install = 0, Uninstall = 1 };

// Calls through the table, named as the slots are.
inline HWND GuiOwnerWindow() { return GuiActive() ? GuiOperations.GuiOwnerWindow() : nullptr; }
inline bool GuiLicense(const wchar_t* name, const wchar_t* file, uint16_t codePage)
{
    return GuiActive() && GuiOperations.GuiLicense(name, file, codePage);
}
inline void GuiSetCaption(const wchar_t* caption)
{
    if (GuiActive())
        GuiOperations.GuiSetCaption(caption);
}
inline void GuiSetStatus(const wchar_t* status, const wchar_t* longText)
{
    if (GuiActive())
        GuiOperations.GuiSetStatus(status, longText);
}
inline void GuiShow(GuiMode mode)
{
    if (GuiActive())
        GuiOperations.GuiShow(static_cast<int>(mode));
}
// The error "Operation aborted by user" once the user has pressed Abort.
SetupError GuiStep(int count);
inline void GuiSetBusy(bool on)
{
    if (GuiActive())
        GuiOperations.GuiSetBusy(on ? 1 : 0);
}
inline void GuiSetRange(int position, int maximum, int minimum)
{
    if (GuiActive())
        GuiOperations.GuiSetRange(position, maximum, minimum);
}
inline void GuiHide()
{
    if (GuiActive())
        GuiOperations.GuiHide();
}
