// How the steps of a run end, and the failure handler around a sequence's
// main work.
#pragma once
#include <utility>

#include "loader/Messages.h"
#include "services/SetupError.h"

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

// How a step ended, or the error that ends the run (which ends it too).
struct [[nodiscard]] StepResult {
    StepResult(Outcome end) : outcome(end) {}
    // An error ends the run as failed, or as cancelled when the user ended it.
    StepResult(SetupError failure)
        : outcome(!failure ? Outcome::Done : failure.ByUser() ? Outcome::Cancelled : Outcome::Failed),
          error(std::move(failure))
    {
    }

    Outcome outcome;
    SetupError error;
};

// Runs a sequence's main work under the failure handler. Its error
// (SetupError, "Operation aborted by user" from GuiStep) goes on unchanged
// to the entry's "Internal Error: " box, after the status "Failed" and the
// sequence's own clean-up (which never fails).
template <class Work, class CleanUp>
SetupError UnderFailureHandler(Work work, CleanUp cleanUp)
{
    SetupError error = work();
    if (error) {
        ShowFailed();
        cleanUp();
    }
    return error;
}
