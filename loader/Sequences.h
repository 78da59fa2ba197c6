// The two sequences that the run control starts once the package has been
// confirmed and its ShortcutList checked. Each runs its main work under
// UnderFailureHandler (loader/Outcome.h) and its closing steps after it.
#pragma once
#include "loader/Outcome.h"
#include "loader/RunState.h"

// How the run ended, unless an error raises.
Outcome RunInstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own, TempFiles& temp);
Outcome RunUninstallation(const Invocation& call, const ShellFolders& folders, OwnPackage& own);
