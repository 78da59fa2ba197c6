// Text handling of the license window. No Win32 here, so it is tested
// natively.
#pragma once
#include <cstdint>

#include "package/PackageReader.h"
#include "package/String.h"

// name + " License", cut to the 255 characters of a short string.
WString LicenseTitle(const WString& name);

// The license file's bytes as text, decoded once: after a UTF-8 BOM as
// UTF-8, after a UTF-16LE BOM as UTF-16LE (an odd last byte is U+FFFD),
// otherwise by the package's code page, as its other texts are.
WString DecodeLicense(const String& bytes, TextDecoder decode, uint16_t codePage);

// Every line break made CR LF: CR LF stays one break, a lone CR and a lone
// LF are one break each.
WString WithCrLfBreaks(const WString& text);

// The text with one more line at its end, as a text box holds lines: a
// text that ends inside a line gets a break first; the new line is ended
// by one only when it starts a line of its own.
WString WithLineAdded(const WString& text, const WString& line);
