// What a text from a package may be when it becomes part of a path: a plain
// relative name that stays inside the folder it is joined to. The setup stub
// refuses a package that breaks a rule before it writes anything; the
// packaging tool refuses to write one and names the rule when it inspects
// one. Portable: no Win32.
//
// The rules take decoded UTF-16 text, as the stub holds it, or bytes as
// stored, as the packer checks a package it cannot decode: then every "\"
// byte counts as a separator, also the second byte of a double-byte
// character, which can only refuse more, never let a way out through.
#pragma once

#include "package/Package.h"
#include "package/TextLists.h"

enum class NameRule : unsigned char {
    Allowed,
    Empty,          // nothing where a name or folder is required
    EmptyComponent, // "a\\\\b" or a trailing "\"
    DotComponent,   // ".", "..", or a component of dots and spaces only
    Absolute,       // a drive ("C:"), a root ("\x") or a UNC form ("\\srv")
    Colon,          // ":" anywhere else: a stream, or a drive in disguise
    BadCharacter,   // < > " | ? * / or a control character
    DeviceName,     // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension
    Wildcard,       // * ? [ ] in a name that is used as a mask
    Folders,        // a "\" where one name is required
    StartupFolder,  // a Start-menu group that would be the Startup folder
};

// One or more components joined by single backslashes.
template <class Char>
NameRule CheckRelativePath(const BasicString<Char>& text);
// One component: the name of a file or a link.
template <class Char>
NameRule CheckPlainName(const BasicString<Char>& text);
// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (also with the superscript digits 1 2 3),
// CONIN$, CONOUT$: in any case, with any extension, and with the trailing
// dots and spaces that Windows drops.
template <class Char>
bool IsDeviceName(const BasicString<Char>& component);

// How much of a name Windows keeps: it drops trailing dots and spaces, so
// "a.txt. " and "a.txt" are one file.
template <class Char>
std::size_t KeptLength(const BasicString<Char>& name);
// A relative path as Windows keeps it: each component without its trailing
// dots and spaces, so "a. \\b" and "a\\b" are one path.
template <class Char>
BasicString<Char> KeptPath(const BasicString<Char>& path);

// The first header text that breaks its rule: CompanyFolder (may be empty),
// ShortName (may be empty), LicenseFile (may be empty; no wildcards),
// InstallFolder, StartMenuFolder (required when the package has shortcuts;
// never the Startup folder), and ProductName when it names the uninstaller
// (MakeUninstaller with link style 2). rule is Allowed when all pass.
struct HeaderNameFault {
    HeaderText field = HeaderText::ProductName;
    NameRule rule = NameRule::Allowed;
};
HeaderNameFault CheckHeaderNames(const PackageHeader& header);
// The same for the texts decoded, indexed by HeaderText.
HeaderNameFault CheckHeaderNames(const PackageHeader& header, const WString* texts);

// A shortcut record: its name is one link name, its target a relative path
// below the install folder. targetBroke tells which part broke the rule.
template <class Char>
NameRule CheckShortcutRecord(const BasicShortcutRecord<Char>& record, bool& targetBroke);

// A copies record (target: the stored name, name: the copy's): both below
// the install folder, the copy one plain name in a flat package.
// copyBroke tells which part broke the rule.
NameRule CheckCopyRecord(const WShortcutRecord& record, bool subFolders, bool& copyBroke);

// Bytes as stored, each taken as one character: how the rules see them.
WString StoredAsText(const String& bytes);

// Bytes as stored, each taken as one character (package/PathRules.cpp).
template <>
bool IsDeviceName(const String& component);
template <>
NameRule CheckRelativePath(const String& text);
template <>
NameRule CheckPlainName(const String& text);
template <>
NameRule CheckShortcutRecord(const ShortcutRecord& record, bool& targetBroke);
// For the packer's texts, which turn into a String on the way.
inline NameRule CheckRelativePath(const String& text) { return CheckRelativePath<char>(text); }
inline NameRule CheckPlainName(const String& text) { return CheckPlainName<char>(text); }

// Texts for the packaging tool; the stub only needs the verdict.
const char* NameRuleText(NameRule rule);
// The rule's text said of the text that broke it: a component of spaces
// (and dots) is named for what it is, not as "." or "..".
const char* NameRuleText(NameRule rule, const char* text, std::size_t size);
const char* HeaderTextName(HeaderText field);

// The Program Files folder a stub of this machine installs into, at its
// longest: C:\Program Files for the x86-64 stub; C:\Program Files (x86) for
// the i386 one, where 64-bit Windows puts a 32-bit program (and for any
// other machine, as the longer of the two).
const char* ProgramFilesOf(uint16_t machine);
constexpr std::size_t kMaxWindowsPath = 259; // MAX_PATH less its terminator
