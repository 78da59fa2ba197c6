// The run: checks the package carried by the running executable, then hands
// over to the run control.
#pragma once
#include "loader/CommandLine.h"
#include "loader/Outcome.h"
#include "package/String.h"

// How the run ended, for the exit code, and the error that ended it, for
// the entry to show. ownPath is the wide name Windows gives for the
// running image.
StepResult RunSetup(WString ownPath, const Arguments& args);
