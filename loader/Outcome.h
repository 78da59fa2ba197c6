// How the steps of a run end, and the failure handler around a sequence's
// main work.
#pragma once
#include <utility>

#include "loader/Messages.h"
#include "services/SetupError.h"

// A step either leaves the run to go on, or has ended it early: the user
// declined, or was told why.
enum class Outcome { Done, Ended };

// How a step ended, or the error that ends the run (which ends it too).
struct [[nodiscard]] StepResult {
    StepResult(Outcome end) : outcome(end) {}
    StepResult(SetupError failure) : outcome(failure ? Outcome::Ended : Outcome::Done), error(std::move(failure)) {}

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
