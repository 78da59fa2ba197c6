// The one error of the setup stub: a message that ends the run. Returned up
// from where a run must stop, checked at every step, and taken only by the
// failure handler and the program entry (which shows "Internal Error:
// <message>..."). A default one is no error. The stub has no exceptions: an
// error that is dropped unread is a compile error.
//
// It is returned from nearly every step, so it is kept to what a pointer and
// a flag cost: moving one copies them, and dropping one that holds nothing
// does nothing.
#pragma once
#include "package/String.h"

class [[nodiscard]] SetupError {
public:
    SetupError() = default;
    // byUser: the user ended the run (Abort), which the exit code tells apart.
    explicit SetupError(WString message, bool byUser = false);
    // The stub's own words, ASCII.
    explicit SetupError(const char* message, bool byUser = false);
    SetupError(SetupError&& other) noexcept = default;
    SetupError& operator=(SetupError&& other) noexcept = default;

    // True when this is an error.
    explicit operator bool() const { return failed_; }
    const WString& Message() const { return message_; }
    bool ByUser() const { return byUser_; }

private:
    WString message_;
    bool failed_ = false;
    bool byUser_ = false;
};
