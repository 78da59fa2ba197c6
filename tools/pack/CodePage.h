// UTF-8 (what Linux hands us) to and from the code page a package's texts
// and names are written in. The package's record names that code page, so
// the stub decodes them the same way on every system. 1252 is built in,
// UTF-8 (65001) is the text as it is, the other Windows code pages go
// through iconv.
#pragma once
#include <string>

// UTF-8: every name fits, and the stub decodes the record, so a package
// installs the same names on every system. An ANSI code page is chosen with
// --codepage (more characters of one script in a 100-byte text).
constexpr int kDefaultCodePage = 65001;
constexpr int kUtf8CodePage = 65001;
// What inspect shows the texts of a package without a record in.
constexpr int kAnsiDisplayCodePage = 1252;

// True for the code pages the tool can write: 874, 932, 936, 949, 950,
// 1250 to 1258 and 65001.
bool IsSupportedCodePage(int codePage);
// "874, 932, 936, ...": for messages.
const char* SupportedCodePages();

// The composed form (NFC) of UTF-8 text: "U" + combining diaeresis
// becomes "Ü", as Windows users type names. Invalid UTF-8 comes back as is.
std::string Composed(const std::string& utf8);

// Converts text, composed first; false when the text is not valid UTF-8 or
// holds a character the code page cannot represent (out is then unspecified;
// bad, when given, receives that character).
bool ToAnsi(const std::string& utf8, int codePage, std::string& out, std::string* bad = nullptr);
// For display: bytes the code page does not define become U+FFFD.
std::string FromAnsi(const std::string& ansi, int codePage);
// Whether every byte of the text decodes in the code page.
bool IsText(const std::string& bytes, int codePage);

// Upper-cases UTF-8 text for comparing names the way a Windows file system
// does: one character for one, in the Basic Multilingual Plane.
std::string FoldCase(const std::string& utf8);

// UTF-8 to UTF-16, as Windows' W calls and resources hold text; false when
// the text is not valid UTF-8.
bool ToUtf16(const std::string& utf8, std::u16string& out);

// UTF-8 text as the name rules take it, one byte per character: ASCII as
// it is, the superscripts one, two and three as their 1252 bytes (a device
// name in disguise), every other character as 0x80, which no rule names.
// So a "\" inside a double-byte character is never taken for a separator.
std::string RuleForm(const std::string& utf8);
// How many UTF-16 units the text takes: what Windows counts in a path.
size_t Utf16Length(const std::string& utf8);
