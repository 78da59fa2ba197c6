// The one door to message boxes for the driver and both sequences: the
// owner is whatever GuiMessageOwner gives at that moment (the progress window
// while the interface is up, none otherwise) and the caption is the mode
// caption, or none (the system's default) before the mode is known.
// The extractor's prompts and the entry's last-resort box do not come here:
// they have fixed captions or none at all.
#pragma once
#include <windows.h>

#include <string>

#include "loader/RunState.h"

int ShowMessage(const RunState& run, const std::string& text, UINT style);

// The interface's status line and long text, cut to the 255 characters a
// short string holds. Only while GuiActive().
void ShowStatus(const std::string& status, const std::string& longText);

// The long texts that name the mode ("Setup" or "Uninstall").
std::string ReadyToProceedText(const std::string& mode);
std::string PreparingText(const std::string& mode);
