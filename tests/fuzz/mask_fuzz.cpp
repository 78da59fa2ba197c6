// libFuzzer target for the name-mask matcher: the input is split at the
// first NUL into a mask and a name. Invalid masks must give the invalid-mask
// error and no answer; valid ones must answer without reading out of bounds, and
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

bool Matches(const std::string& name, const std::string& mask, bool& valid)
{
    bool matches;
    valid = !MatchesMask(name, mask, matches);
    return matches;
}

bool Matches(const std::string& name, const std::string& mask)
{
    bool valid;
    bool matches = Matches(name, mask, valid);
    if (!valid)
        std::abort();
    return matches;
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
    if (SetupError error = MatchesMask(name, mask, matches)) {
        // Always the invalid-mask message, naming this mask, and no match.
        Check(std::string(error.Message().c_str()).compare(0, mask.size() + 2, "'" + mask + "'") == 0);
        Check(!matches);
        return 0;
    }
    // Letter case never changes the answer.
    Check(Matches(Upper(name), mask) == matches);
    Check(Matches(name, Upper(mask)) == matches);
    // A star at the end accepts anything more behind (it adds no element,
    // so the mask stays valid).
    Check(!matches || Matches(name + "y", mask + "*"));
    // One in front accepts anything more in front, unless it makes the mask
    // one floating element too long.
    if (matches) {
        bool valid;
        bool widened = Matches("x" + name, "*" + mask, valid);
        Check(!valid || widened);
    }
    // A mask without wildcards or sets matches exactly itself.
    if (mask.find_first_of("*?[") == std::string::npos)
        Check(Matches(mask, mask));
    return 0;
}
