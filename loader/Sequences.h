// The two sequences that the run control starts once the package has been
// confirmed and its ShortcutList checked. Each runs its main work under
// UnderFailureHandler (loader/Outcome.h) and its closing steps after it.
#pragma once
#include "loader/Outcome.h"
#include "loader/RunState.h"
#include "services/SetupError.h"

// How the run ended, and the error that ended it.
StepResult RunInstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own, TempFiles& temp);
StepResult RunUninstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own);
