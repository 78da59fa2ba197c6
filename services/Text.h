// Small text helpers shared by the stub and the host tools. No Win32 here:
// this builds natively too, for unit tests and fuzzing.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

#include "package/String.h"

// One argument of Format: a text for "%s" or an integer for "%d".
class FormatArg {
public:
    FormatArg(const char* text) : text_(text ? text : ""), isText_(true) {}
    FormatArg(const String& text) : text_(text.c_str()), isText_(true) {}
    // The package's texts, which the packer shares.
    FormatArg(const std::string& text) : text_(text.c_str()), isText_(true) {}
    FormatArg(int value) : number_(value), isText_(false) {}
    FormatArg(long value) : number_(value), isText_(false) {}
    FormatArg(long long value) : number_(value), isText_(false) {}
    FormatArg(unsigned value) : number_(value), isText_(false) {}
    FormatArg(unsigned long value) : number_(static_cast<long long>(value)), isText_(false) {}

    bool IsText() const { return isText_; }
    const char* Text() const { return text_; }
    long long Number() const { return number_; }

private:
    // One or the other: every call of Format builds its arguments in place,
    // and the stub has many of them.
    union {
        const char* text_;
        long long number_;
    };
    bool isText_;
};

// printf-style formatting restricted to what the system's texts use: "%s",
// "%d" and "%%". Arguments are taken in order; a missing one formats as empty.
String Format(const char* pattern, std::initializer_list<FormatArg> args);

// ASCII-only case mapping (a..z / A..Z); other bytes, including those of the
// ANSI code page's upper half, stay as they are.
String UpperAscii(String text);
String LowerAscii(String text);

// The text after the last "\", "/" or ":" (the whole text when there is none).
String LastComponent(const String& path);
// The text after the last "\" or ":" only, as Windows names a file.
String FileNamePart(const String& path);

// Cut to the 255 characters a short string can hold.
String ShortStr(const String& text);

// Tells whether a byte starts a double-byte character in the active code page.
using LeadByteTest = bool (*)(unsigned char);
bool NoLeadBytes(unsigned char);

// The folder part of a path: up to and including its last "\" or ":", then a
// trailing "\" is dropped unless it follows ":" or another "\". A second byte
// of a double-byte character is never taken for a separator.
String FolderOfPath(const String& path, LeadByteTest isLeadByte = NoLeadBytes);
// The path up to and including its last "\" or ":" (empty when it has
// none), with the same care for double-byte characters.
String ParentWithSeparator(const String& path, LeadByteTest isLeadByte = NoLeadBytes);

// Append a backslash unless the text is empty or already ends with one.
String WithBackslash(const String& folder);
