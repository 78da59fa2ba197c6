// The command line: how the run was started, split and read once at the
// entry from the wide command line (no ANSI form of it is ever taken: a
// best-fit mapping could turn a full-width quote or slash in a file name
// into a switch). And the damaged-copy text, which names the started file.
// Portable: no Win32.
#pragma once
#include <cstddef>

#include "package/String.h"

// How the run was started, read once at the entry.
struct Invocation {
    bool NoConfirmation = false; // "/SP-"
    bool NoLicense = false;      // "/LA-"
    bool Silent = false;         // "/SILENT"
    // "/QUIET": unattended, for a package that asks for it (the run then
    // takes "/SP-", "/LA-" and "/SILENT" too); before the package is read,
    // no box in any case.
    bool Quiet = false;
    // "/LOG=path", the path in double quotes when it holds blanks; the first
    // one counts. Set with an empty path too: that log cannot be opened.
    bool Logged = false;
    WString LogPath;
    // Argument 1 is exactly "/SECSUN": this process is an uninstaller's
    // relaunched copy, and argument 2 names the uninstaller the user
    // started. Case matters and no other position counts.
    bool Relaunched = false;
    WString StartedUninstaller;
};

// The arguments of a command line in one text, each followed by a zero
// (which no argument can hold): read once and in order, they need no
// list of texts.
class Arguments {
public:
    void Add(const WString& argument);
    std::size_t Count() const { return count_; }
    // Argument index (0 is the program); "" past the last.
    const WideChar* operator[](std::size_t index) const;

private:
    WString packed_;
    std::size_t count_ = 0;
};

// The arguments of a command line as Windows programs split it: argument 0
// runs to its closing quote when it opens with one, else to the first blank;
// the others are split at blanks and tabs outside double quotes, where 2n
// backslashes before a quote stand for n and the quote opens or closes a
// quoted part, 2n+1 for n and a literal quote, and "" inside a quoted part
// for a quote; backslashes before anything else are themselves.
// Works on UTF-16 units: a quote, blank or backslash is never part of
// another character.
Arguments SplitCommandLine(const WideChar* line);

// The switches count anywhere from argument 1 on, each upper-cased (ASCII
// only) and compared whole; argument 0 is the program.
Invocation ReadCommandLine(const Arguments& args);

// "This copy of %s is corrupted!..." naming the mode caption when it is set,
// else the own file's name (after the last "\" or ":") in capitals.
WString DamagedCopyText(const char* modeCaption, const WString& ownPath);
