// How the steps of a run end, and the two ways the run wraps work that may
// raise.
#pragma once
#include "loader/Messages.h"

// A step either leaves the run to go on, or has ended it early: the user
// declined, or was told why.
enum class Outcome { Done, Ended };

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
