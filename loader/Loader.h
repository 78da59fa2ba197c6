// The run: checks the package carried by the running executable, then hands
// over to the run control.
#pragma once
#include <string>
#include <vector>

#include "loader/Outcome.h"

// How the run ended, for the exit code; an error that ends it otherwise
// raises.
Outcome RunSetup(const std::string& ownPath, const std::vector<std::string>& args);
