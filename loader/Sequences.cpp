// Placeholder until the installation and uninstallation sequences land
// (loader/Install.cpp, loader/Uninstall.cpp replace this file): the run ends
// after the ShortcutList check.
#include "loader/Sequences.h"

void RunInstallation(RunState&) {}
void RunUninstallation(RunState&) {}
