// Run control: what follows the package checks, and the pieces both
// sequences share.
#pragma once
#include <string>

#include "loader/RunState.h"

// Continues RunSetup once marker and header are sound: interface up,
// relaunch of an uninstaller, mode, confirmation, ShortcutList check, then
// the sequence. Closing the own file and FinalCleanup stay with the caller.
void RunControl(RunState& run);

// "Uninstall %s" with the short name (style 1) or the product name (style 2),
// else "Uninstall". Names both the uninstaller (".exe") and its shortcut
// (".lnk").
std::string UninstallLinkName(const PackageHeader& header);

// Deletes the shortcut of each complete ShortcutList record, and the
// uninstaller's when the header asks for one, then the group if it is empty.
// A failure is not reported: what stays is found by whoever looks.
void RemoveShortcuts(const RunState& run, const std::string& group);

// Waits 200 ms and removes path (the run's install folder path when empty)
// if it is empty; with a company folder, 200 ms later also the folder above
// it if that is empty. Never raises.
void RemoveInstallFolders(RunState& run, const std::string& path);

// Takes the windows down, waits 200 ms, lets go of the temporary cabinet
// (which deletes it) and deletes the license with its own folder (not an
// uninstaller's temporary copy). The files go even when taking the windows
// down raises; that error then goes on.
void FinalCleanup(RunState& run);

// What the failure handler does before passing the exception on: status
// "Failed" while the interface is up, and for an installer whose install
// folder path has been formed, the removal of the empty install folders.
// Never raises.
void OnWorkFailed(RunState& run) noexcept;

// Runs a sequence's main work under the failure handler. Any exception
// (SetupError, out of memory, "Operation aborted by user" from GuiStep) goes
// on unchanged to the entry's "Internal Error: " box after OnWorkFailed.
template <class Work>
void UnderFailureHandler(RunState& run, Work work)
{
    try {
        work();
    } catch (...) {
        OnWorkFailed(run);
        throw;
    }
}
