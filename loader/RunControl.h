// Run control: what follows the package checks, and the pieces both
// sequences share.
#pragma once
#include <string>

#include "loader/RunState.h"

// Continues RunSetup once marker and header are sound.
void RunControl(RunState& run);
// Takes the windows down, waits, deletes the temporary cabinet and license.
void FinalCleanup(RunState& run);
