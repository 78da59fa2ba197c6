// The run: checks the package carried by the running executable, then hands
// over to the run control.
#pragma once
#include <string>
#include <vector>

#include "services/SetupError.h"

// The error that ended the run, for the entry to show.
SetupError RunSetup(const std::string& ownPath, const std::vector<std::string>& args);
