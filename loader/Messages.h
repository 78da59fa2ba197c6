// The one door to message boxes and the status display for the driver and
// both sequences. A box's owner is whatever GuiMessageOwner gives at that
// moment (the progress window while the interface is up, none otherwise);
// its caption is the mode's, or none (the system's default) before the mode
// is known. The extractor's prompts and the entry's last-resort box do not
// come here: they have fixed captions or none at all.
#pragma once
#include <windows.h>

#include "package/String.h"

// The mode captions: an installer's run, an uninstaller's. Pointers to the
// literals, which the linker keeps once however often they are spelled.
inline constexpr const char* kSetupCaption = "Setup";
inline constexpr const char* kUninstallCaption = "Uninstall";

// caption nullptr: no caption of its own.
int ShowMessage(const char* caption, const String& text, UINT style);
// The damaged-copy box once the mode is known.
void ReportDamaged(const char* caption);

// The interface's status line and long text, cut to the 255 characters a
// short string holds.
// Texts, not strings: most calls pass two literals, which would otherwise
// each be made into a string at the call.
void ShowStatus(const char* status, const char* longText);
inline void ShowStatus(const char* status, const String& longText) { ShowStatus(status, longText.c_str()); }
// What the failure handler shows: the busy period ended, the status
// "Failed". Never fails: the work's own error is the one to report.
void ShowFailed();

// The long texts that name the mode.
String ReadyToProceedText(const String& mode);
String PreparingText(const String& mode);
