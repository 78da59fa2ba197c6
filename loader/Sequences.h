// The two sequences that the run control starts once the package has been
// confirmed and its ShortcutList checked. Each runs its main work under
// UnderFailureHandler (loader/RunControl.h) and its closing steps after it.
#pragma once
#include "loader/RunState.h"

void RunInstallation(RunState& run);
void RunUninstallation(RunState& run);

// The license question when there are no windows: the license text opens in
// its default program and a Yes/No box asks.
bool ConfirmLicenseWithoutGui(const RunState& run);
