// The one error type of the setup stub: a message that ends the run.
// Raised where a run must stop, caught only by the failure handler and the
// program entry (which shows "Internal Error: <message>...").
#pragma once
#include <string>
#include <utility>

class SetupError {
public:
    explicit SetupError(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};
