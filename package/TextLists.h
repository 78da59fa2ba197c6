// The CR-terminated text lists of a package: the ShortcutList
// ("target|name\r" records), the copies list in the same form ("stored|copy\r")
// and the InstalledFileList ("path\r" entries).
// Readers cut from the front and stop, leaving text unread, at the first
// record they cannot complete. They take the lists as stored (bytes) or
// decoded (UTF-16): "|" and CR are never part of a multi-byte character's
// decoding.
#pragma once
#include "package/String.h"

template <class Char>
struct BasicShortcutRecord {
    BasicString<Char> target;
    BasicString<Char> name;
};
using ShortcutRecord = BasicShortcutRecord<char>;
using WShortcutRecord = BasicShortcutRecord<WideChar>;

// Takes one complete record off the front of list. Returns false when no "|"
// is left (list unchanged) or when no CR follows the "|": then the target and
// its "|" are gone from list and the unfinished name stays.
template <class Char>
bool TakeShortcut(BasicString<Char>& list, BasicShortcutRecord<Char>& record);
// The same, for a list that is still arriving: false, and list unchanged,
// until the record is complete.
template <class Char>
bool TakeCompleteShortcut(BasicString<Char>& list, BasicShortcutRecord<Char>& record);

// Takes one CR-terminated entry off the front of list. Returns false and
// leaves list unchanged when no CR is left; text after the last CR is never
// an entry.
template <class Char>
bool TakeListEntry(BasicString<Char>& list, BasicString<Char>& entry);
