// The packaging tool's one error: a one-line message for the user. The
// command line prints it after "cabsetup: " and exits non-zero.
#pragma once
#include <stdexcept>
#include <string>

class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};
