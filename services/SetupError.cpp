#include "services/SetupError.h"

#include "services/Text.h"

// Out of line: an error is made at many places and moved at many more.
SetupError::SetupError(WString message, bool byUser)
    : message_(static_cast<WString&&>(message)), failed_(true), byUser_(byUser)
{
}

SetupError::SetupError(const char* message, bool byUser) : SetupError(WidenAscii(message), byUser) {}
