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
