// The CR-terminated text lists of a package: the ShortcutList
// ("target|name\r" records) and the InstalledFileList ("path\r" entries).
// Readers cut from the front and stop, leaving text unread, at the first
// record they cannot complete.
#pragma once
#include "package/String.h"

struct ShortcutRecord {
    String target;
    String name;
};

// Takes one complete record off the front of list. Returns false when no "|"
// is left (list unchanged) or when no CR follows the "|": then the target and
// its "|" are gone from list and the unfinished name stays.
bool TakeShortcut(String& list, ShortcutRecord& record);
// The same, for a list that is still arriving: false, and list unchanged,
// until the record is complete.
bool TakeCompleteShortcut(String& list, ShortcutRecord& record);

// Takes one CR-terminated entry off the front of list. Returns false and
// leaves list unchanged when no CR is left; text after the last CR is never
// an entry.
bool TakeListEntry(String& list, String& entry);
