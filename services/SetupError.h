// The one error type of the setup stub: a message that ends the run.
// Raised where a run must stop, caught only by the failure handler and the
// program entry (which shows "Internal Error: <message>...").
#pragma once
#include <string>
#include <utility>

class SetupError {
public:
    // byUser: the user ended the run (Abort), which the exit code tells apart.
    explicit SetupError(std::string message, bool byUser = false) : message_(std::move(message)), byUser_(byUser) {}
    const std::string& Message() const { return message_; }
    bool ByUser() const { return byUser_; }

private:
    std::string message_;
    bool byUser_;
};
