// libFuzzer target for the name-mask matcher: the input is split at the
// first NUL into a mask and a name. Invalid masks must raise SetupError and
// nothing else; valid ones must answer without reading out of bounds, and
// a few laws must hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cabinet/Masks.h"
#include "services/SetupError.h"

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

void Check(bool law)
{
    if (!law)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string::size_type cut = input.find('\0');
    std::string mask = input.substr(0, cut);
    std::string name = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    bool matches;
    try {
        matches = MatchesMask(name, mask);
    } catch (const SetupError& e) {
        // Always the invalid-mask message, naming this mask.
        Check(e.Message().compare(0, mask.size() + 2, "'" + mask + "'") == 0);
        return 0;
    }
    // Letter case never changes the answer.
    Check(MatchesMask(Upper(name), mask) == matches);
    Check(MatchesMask(name, Upper(mask)) == matches);
    // A star at the end accepts anything more behind (it adds no element,
    // so the mask stays valid).
    Check(!matches || MatchesMask(name + "y", mask + "*"));
    // One in front accepts anything more in front, unless it makes the mask
    // one floating element too long.
    if (matches) {
        try {
            Check(MatchesMask("x" + name, "*" + mask));
        } catch (const SetupError&) {
        }
    }
    // A mask without wildcards or sets matches exactly itself.
    if (mask.find_first_of("*?[") == std::string::npos)
        Check(MatchesMask(mask, mask));
    return 0;
}
