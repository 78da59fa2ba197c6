// Temporary names: "_KT", five base-32 digits, the extension. Portable, so
// the search order (start, wrap-around, exhaustion) is tested natively; the
// Win32 side creates each candidate and says whether its name was taken.
#pragma once
#include <cstdint>

#include "package/String.h"
#include "services/SetupError.h"
#include "services/Text.h"

constexpr uint32_t kTempCounterMax = 0x1FFFFFF; // 25 bits: five base-32 digits

// Five digits of "0123456789ABCDEFGHIJKLMNOPQRSTUV", most significant
// first; bits above the 25th are ignored.
WString CounterText(uint32_t counter);

// What one try to create a candidate found.
enum class TempTry { Created, Taken, Failed };

// Tries the candidates in order, starting just after `start` (its low 25
// bits) and wrapping from kTempCounterMax to 0, until `create` finds one not
// taken: it either created it or failed for another reason, which the caller
// tells from what `create` left behind; name is then that candidate. The
// start value itself is never tried: after 2^25 - 1 taken names the search
// gives the error "Too many files in <folder\>". An empty folder gives names
// relative to the current folder.
template <class Create>
SetupError SearchTempName(const WString& folder, const WString& extension, uint32_t start, Create create,
                          WString& name)
{
    const WString prefix = WithBackslash(folder) + WidenAscii("_KT");
    start &= kTempCounterMax;
    uint32_t counter = start;
    for (;;) {
        counter = counter >= kTempCounterMax ? 0 : counter + 1;
        if (counter == start)
            return SetupError(WFormat("Too many files in %s", {WithBackslash(folder)}));
        name = prefix + CounterText(counter) + extension;
        if (create(name) != TempTry::Taken)
            return SetupError();
    }
}
