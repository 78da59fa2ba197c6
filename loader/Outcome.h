// How the steps of a run end, and the two ways the run wraps work that may
// raise.
#pragma once
#include "loader/Messages.h"

// A step either leaves the run to go on (Done; for the whole run, success),
// or has ended it early and says why: the user declined before anything
// changed, cancelled part way, was told of a failure or of a damaged copy,
// or an uninstaller's relaunched copy carries on in its place.
enum class Outcome { Done, Declined, Cancelled, Failed, Damaged, HandedOver };

// The process's exit code, for the scripts that deploy a program: the codes
// that Windows' own installers use for the same ends. Declined leaves the
// machine as it was (user exit); Cancelled may leave part of the work done.
inline int ExitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Declined:
        return 1602; // ERROR_INSTALL_USEREXIT
    case Outcome::Cancelled:
        return 1223; // ERROR_CANCELLED
    case Outcome::Failed:
        return 1603; // ERROR_INSTALL_FAILURE
    case Outcome::Damaged:
        return 1392; // ERROR_FILE_CORRUPT, also for a stub without a package
    default:
        return 0; // done, or handed over to the copy
    }
}

// Runs a sequence's main work under the failure handler. Any exception
// (SetupError, out of memory, "Operation aborted by user" from GuiStep) goes
// on unchanged to the entry's "Internal Error: " box, after the status
// "Failed" and the sequence's own clean-up (which never raises).
template <class Work, class CleanUp>
void UnderFailureHandler(Work work, CleanUp cleanUp)
{
    try {
        work();
    } catch (...) {
        ShowFailed();
        cleanUp();
        throw;
    }
}

// Runs work, then closing, on every way out: an exception from work goes on
// once closing has run (and one from closing goes on in its place).
template <class Work, class Closing>
void ThenAlways(Work work, Closing closing)
{
    try {
        work();
    } catch (...) {
        closing();
        throw;
    }
    closing();
}
