// Run control: what follows the marker and header checks, and the closing
// clean-up.
#pragma once
#include "loader/Outcome.h"
#include "loader/RunState.h"

// Interface up, relaunch of an uninstaller, mode, confirmation, ShortcutList
// check, then the sequence. Closing the own file and FinalCleanup stay with
// the caller. How the run ended, and the error that ended it.
StepResult RunControl(const Invocation& call, const ShellFolders& folders, OwnPackage& own, TempFiles& temp);

// An unattended relaunched copy tells the uninstaller that started it how
// the uninstallation ended, once: before it deletes that uninstaller,
// which waits for the word to end with it.
void TellStarter(const Invocation& call, Outcome outcome);

// Takes the windows down, waits 200 ms, lets go of the temporary cabinet
// (which deletes it) and deletes the license with its own folder.
void FinalCleanup(TempFiles& temp);
