// The one door through which setup talks to the user while it works: a table
// of eleven plain function pointers, an active flag, and the four functions
// that bring the interface up, take it down, test it and give the owner of
// message boxes. Callers test GuiActive() before calling any operation.
//
// Text arguments are short strings: callers cut them to 255 characters
// (ShortStr) before the call; the operations copy them before use.
#pragma once
#include <windows.h>

struct TGuiOperations {
    void (*GuiCreate)();                                         // slot 1
    void (*GuiDestroy)();                                        // slot 2
    void (*GuiHide)();                                           // slot 3
    HWND (*GuiOwnerWindow)();                                    // slot 4
    bool (*GuiLicense)(const char* name, const char* licenseFile); // slot 5
    void (*GuiSetCaption)(const char* caption);                  // slot 6
    void (*GuiSetStatus)(const char* status, const char* longText); // slot 7
    void (*GuiShow)(int mode);                                   // slot 8
    void (*GuiStep)(int count);                                  // slot 9
    void (*GuiSetBusy)(int on);                                  // slot 10
    void (*GuiSetRange)(int position, int maximum, int minimum); // slot 11
};

extern TGuiOperations GuiOperations;

bool GuiActive();
bool GuiInit(const char* libraryPath);
void GuiDone();
HWND GuiMessageOwner();

// Calls through the table, named as the slots are.
inline HWND GuiOwnerWindow() { return GuiOperations.GuiOwnerWindow(); }
inline bool GuiLicense(const char* name, const char* file) { return GuiOperations.GuiLicense(name, file); }
inline void GuiSetCaption(const char* caption) { GuiOperations.GuiSetCaption(caption); }
inline void GuiSetStatus(const char* status, const char* longText) { GuiOperations.GuiSetStatus(status, longText); }
inline void GuiShow(int mode) { GuiOperations.GuiShow(mode); }
inline void GuiStep(int count) { GuiOperations.GuiStep(count); }
inline void GuiSetBusy(int on) { GuiOperations.GuiSetBusy(on); }
inline void GuiSetRange(int position, int maximum, int minimum) { GuiOperations.GuiSetRange(position, maximum, minimum); }
inline void GuiHide() { GuiOperations.GuiHide(); }
