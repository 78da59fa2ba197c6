// Message boxes and the status display for the driver and both sequences.
// A box's owner is whatever GuiMessageOwner gives at that moment (the
// progress window while the interface is up, none otherwise); its caption
// is the mode's, or none (the system's default) before the mode is known.
// Every box, these and the extractor's, goes through ShowBox
// (services/MessageBox.h), which logs it.
#pragma once
#include <windows.h>

#include "package/String.h"

// The mode captions: an installer's run, an uninstaller's. Pointers to the
// literals, which the linker keeps once however often they are spelled.
inline constexpr const char* kSetupCaption = "Setup";
inline constexpr const char* kUninstallCaption = "Uninstall";

// caption nullptr: no caption of its own.
int ShowMessage(const char* caption, const WString& text, UINT style);
// The damaged-copy box once the mode is known.
void ReportDamaged(const char* caption);

// The interface's caption: the mode's.
void ShowCaption(const char* caption);
// The interface's status line and long text, cut to the 255 characters a
// short string holds.
// Texts, not strings: most calls pass two literals, which would otherwise
// each be made into a string at the call.
void ShowStatus(const char* status, const char* longText);
void ShowStatus(const char* status, const WString& longText);
// What the failure handler shows: the busy period ended, the status
// "Failed". Never fails: the work's own error is the one to report.
void ShowFailed();

// The long texts that name the mode.
WString ReadyToProceedText(const char* mode);
WString PreparingText(const char* mode);
