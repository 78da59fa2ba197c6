// Text handling of the license window. No Win32 here, so it is tested
// natively.
#pragma once
#include "package/String.h"

// name + " License", cut to the 255 characters of a short string.
String LicenseTitle(const String& name);

// Every line break made CR LF: CR LF stays one break, a lone CR and a lone
// LF are one break each.
String WithCrLfBreaks(const String& text);

// The text with one more line at its end, as a text box holds lines: a
// text that ends inside a line gets a break first; the new line is ended
// by one only when it starts a line of its own.
String WithLineAdded(const String& text, const String& line);
