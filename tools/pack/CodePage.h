// UTF-8 (what Linux hands us) to and from the Windows ANSI code page that
// the stub reads every name and text in. 1252 is built in; the other
// single-byte Windows code pages go through iconv.
#pragma once
#include <string>

constexpr int kDefaultCodePage = 1252;

// True for the code pages the tool can write: 874 and 1250 to 1258.
bool IsSupportedCodePage(int codePage);

// Converts text; false when the text is not valid UTF-8 or holds a character
// the code page cannot represent (out is then unspecified).
bool ToAnsi(const std::string& utf8, int codePage, std::string& out);
// For display: bytes the code page does not define become U+FFFD.
std::string FromAnsi(const std::string& ansi, int codePage);

// Upper-cases UTF-8 text for comparing names the way a Windows file system
// does (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters).
std::string FoldCase(const std::string& utf8);

// UTF-8 to UTF-16, as Windows' W calls and resources hold text; false when
// the text is not valid UTF-8.
bool ToUtf16(const std::string& utf8, std::u16string& out);
