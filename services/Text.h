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
    FormatArg(const char* text) : text_(text ? text : ""), kind_(Kind::Bytes) {}
    FormatArg(const String& text) : text_(text.c_str()), kind_(Kind::Bytes) {}
    FormatArg(const WideChar* text) : wide_(text ? text : WString::kEmpty), kind_(Kind::Wide) {}
    FormatArg(const WString& text) : wide_(text.c_str()), kind_(Kind::Wide) {}
    // The package's texts, which the packer shares.
    FormatArg(const std::string& text) : text_(text.c_str()), kind_(Kind::Bytes) {}
    FormatArg(int value) : number_(value), kind_(Kind::Number) {}
    FormatArg(long value) : number_(value), kind_(Kind::Number) {}
    FormatArg(long long value) : number_(value), kind_(Kind::Number) {}
    FormatArg(unsigned value) : number_(value), kind_(Kind::Number) {}
    FormatArg(unsigned long value) : number_(static_cast<long long>(value)), kind_(Kind::Number) {}

    bool IsText() const { return kind_ != Kind::Number; }
    bool IsWide() const { return kind_ == Kind::Wide; }
    const char* Text() const { return text_; }
    const WideChar* Wide() const { return wide_; }
    long long Number() const { return number_; }

private:
    enum class Kind : unsigned char { Bytes, Wide, Number };
    // One of them: every call of Format builds its arguments in place, and
    // the stub has many of them.
    union {
        const char* text_;
        const WideChar* wide_;
        long long number_;
    };
    Kind kind_;
};

// printf-style formatting restricted to what the system's texts use: "%s",
// "%d" and "%%". Arguments are taken in order; a missing one formats as empty.
// The pattern is ASCII. WFormat makes UTF-16 text, where a byte text
// argument is taken as ASCII (the stub's own words); Format makes bytes and
// takes byte texts.
String Format(const char* pattern, std::initializer_list<FormatArg> args);
WString WFormat(const char* pattern, std::initializer_list<FormatArg> args);

// ASCII-only case mapping (a..z / A..Z); every other character stays as it is.
template <class Char>
BasicString<Char> UpperAscii(BasicString<Char> text);
template <class Char>
BasicString<Char> LowerAscii(BasicString<Char> text);

// The text after the last "\", "/" or ":" (the whole text when there is none).
template <class Char>
BasicString<Char> LastComponent(const BasicString<Char>& path);
// The text after the last "\" or ":" only, as Windows names a file.
template <class Char>
BasicString<Char> FileNamePart(const BasicString<Char>& path);

// Cut to the 255 characters a short string can hold.
template <class Char>
BasicString<Char> ShortStr(const BasicString<Char>& text);

// Append a backslash unless the text is empty or already ends with one.
template <class Char>
BasicString<Char> WithBackslash(const BasicString<Char>& folder);

// Paths are decoded text: a "\" is always a separator.
// The folder part of a path: up to and including its last "\" or ":", then a
// trailing "\" is dropped unless it follows ":" or another "\".
WString FolderOfPath(const WString& path);
// The path up to and including its last "\" or ":" (empty when it has none).
WString ParentWithSeparator(const WString& path);

// An ASCII text as UTF-16 (each byte one character).
WString WidenAscii(const char* text);
