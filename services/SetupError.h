// The one error of the setup stub: a message that ends the run. Returned up
// from where a run must stop, checked at every step, and taken only by the
// failure handler and the program entry (which shows "Internal Error:
// <message>..."). A default one is no error. The stub has no exceptions: an
// error that is dropped unread is a compile error.
#pragma once
#include <string>
#include <utility>

class [[nodiscard]] SetupError {
public:
    SetupError() = default;
    // byUser: the user ended the run (Abort), which the exit code tells apart.
    explicit SetupError(std::string message, bool byUser = false)
        : message_(std::move(message)), failed_(true), byUser_(byUser)
    {
    }
    // True when this is an error.
    explicit operator bool() const { return failed_; }
    const std::string& Message() const { return message_; }
    bool ByUser() const { return byUser_; }

private:
    std::string message_;
    bool failed_ = false;
    bool byUser_ = false;
};
