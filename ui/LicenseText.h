// Text handling of the license window. No Win32 here, so it is tested
// natively.
#pragma once
#include <string>

// name + " License", cut to the 255 characters of a short string.
std::string LicenseTitle(const std::string& name);

// Every line break made CR LF: CR LF stays one break, a lone CR and a lone
// LF are one break each.
std::string WithCrLfBreaks(const std::string& text);

// The text with one more line at its end, as a text box holds lines: a
// text that ends inside a line gets a break first; the new line is ended
// by one only when it starts a line of its own.
std::string WithLineAdded(const std::string& text, const std::string& line);
