// The command line and the damaged-copy text. Portable: no Win32.
#pragma once
#include <cstddef>

#include "package/String.h"

// How the run was started, read once at the entry.
struct Invocation {
    String OwnPath;
    bool NoConfirmation = false; // "/SP-"
    bool NoLicense = false;      // "/LA-"
    bool Silent = false;         // "/SILENT"
    // "/LOG=path", the path in double quotes when it holds blanks; the first
    // one counts. Set with an empty path too: that log cannot be opened.
    bool Logged = false;
    String LogPath;
    // Argument 1 is exactly "/SECSUN": this process is an uninstaller's
    // relaunched copy, and argument 2 names the uninstaller the user
    // started. Case matters and no other position counts.
    bool Relaunched = false;
    String StartedUninstaller;
};

// The arguments of a command line in one text, each followed by a zero
// byte (which no argument can hold): read once and in order, they need no
// list of texts.
class Arguments {
public:
    void Add(const String& argument);
    std::size_t Count() const { return count_; }
    // Argument index (0 is the program); "" past the last.
    const char* operator[](std::size_t index) const;

private:
    String packed_;
    std::size_t count_ = 0;
};

// The arguments of a command line as Windows programs split it: argument 0
// runs to its closing quote when it opens with one, else to the first blank;
// the others are split at blanks and tabs outside double quotes, where 2n
// backslashes before a quote stand for n and the quote opens or closes a
// quoted part, 2n+1 for n and a literal quote, and "" inside a quoted part
// for a quote; backslashes before anything else are themselves.
Arguments SplitCommandLine(const char* line);

// The switches count anywhere from argument 1 on, each upper-cased (ASCII
// only) and compared whole; argument 0 is the program.
Invocation ReadCommandLine(const String& ownPath, const Arguments& args);

// "This copy of %s is corrupted!..." naming the mode caption when it is set,
// else the own file's name (after the last "\" or ":") in capitals.
String DamagedCopyText(const String& modeCaption, const String& ownPath);
