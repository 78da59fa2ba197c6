// The two sequences that the run control starts once the package has been
// confirmed and its ShortcutList checked. Each runs its main work under
// UnderFailureHandler (loader/Outcome.h) and its closing steps after it.
#pragma once
#include "loader/RunState.h"
#include "services/SetupError.h"

SetupError RunInstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own, TempFiles& temp);
SetupError RunUninstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own);
