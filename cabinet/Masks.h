// Wildcard masks for cabinet entry names. Portable: no Win32 here, so the
// matcher is unit-tested and fuzzed on the build host.
//
//   *       any run of characters, the empty run included
//   ?       exactly one character; after a "*" (with only "?" between) it
//           adds nothing, so "*?" behaves as "*"
//   [...]   one character of the set: single characters and ranges "a-z";
//           "[!...]" inverts the set
//   other   the character itself
// Letters compare without regard to case (ASCII only), in sets as well.
// Names and masks are bytes or decoded UTF-16 text; a character is one byte
// or one UTF-16 unit.
#pragma once

#include "package/String.h"
#include "services/SetupError.h"

// matches: whether name as a whole matches mask. An invalid mask gives the
// error "'<mask>' is an invalid mask at (<position>)" and leaves matches
// false, the position being 1-based
// (one past the end for a set that is never closed): a "[" without "]", a set
// that holds no character, a "-" with no character before it in a set, or
// more than 30 elements that follow a "*".
template <class Char>
SetupError MatchesMask(const BasicString<Char>& name, const BasicString<Char>& mask, bool& matches);
