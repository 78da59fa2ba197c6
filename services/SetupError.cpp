#include "services/SetupError.h"

// Out of line: an error is made at many places and moved at many more.
SetupError::SetupError(String message, bool byUser)
    : message_(static_cast<String&&>(message)), failed_(true), byUser_(byUser)
{
}

SetupError::SetupError(const char* message, bool byUser) : message_(message), failed_(true), byUser_(byUser) {}
