// Temporary names: "_KT", five base-32 digits, the extension. Portable, so
// the search order (start, wrap-around, exhaustion) is tested natively; the
// Win32 side only decides whether a candidate may be taken.
#pragma once
#include <cstdint>
#include <string>

#include "services/SetupError.h"
#include "services/Text.h"

constexpr uint32_t kTempCounterStart = 0x123456;
constexpr uint32_t kTempCounterMax = 0x1FFFFFF; // 25 bits: five base-32 digits

// Five digits of "0123456789ABCDEFGHIJKLMNOPQRSTUV", most significant
// first; bits above the 25th are ignored.
std::string CounterText(uint32_t counter);

// Tries the candidates in order, starting just after kTempCounterStart and
// wrapping from kTempCounterMax to 0, and returns the first one that
// `mayTake` accepts. The start value itself is never tried: after
// 2^25 - 1 refusals the search raises "Too many files in <folder\>".
// An empty folder gives names relative to the current folder.
template <class MayTake>
std::string SearchTempName(const std::string& folder, const std::string& extension, MayTake mayTake)
{
    const std::string prefix = WithBackslash(folder) + "_KT";
    uint32_t counter = kTempCounterStart;
    for (;;) {
        counter = counter >= kTempCounterMax ? 0 : counter + 1;
        if (counter == kTempCounterStart)
            throw SetupError("Too many files in " + WithBackslash(folder));
        std::string candidate = prefix + CounterText(counter) + extension;
        if (mayTake(candidate))
            return candidate;
    }
}
