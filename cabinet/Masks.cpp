#include "cabinet/Masks.h"

#include <cstdint>
#include <memory>

#include "services/SetupError.h"
#include "services/Text.h"

namespace {

// Longer chains of "*x" get slow to match and are never needed for entry names.
const int MaxFloatingElements = 30;

enum class Kind : uint8_t { Star, Literal, Any, Set };

struct Element {
    Kind kind = Kind::Literal;
    bool negate = false;
    unsigned char literal = 0;
    uint32_t bits[8] = {};

    void Add(unsigned char c) { bits[c >> 5] |= 1u << (c & 31); }
    bool Has(unsigned char c) const { return (bits[c >> 5] >> (c & 31)) & 1u; }
    bool Empty() const
    {
        for (uint32_t word : bits)
            if (word)
                return false;
        return true;
    }
};

unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

bool Matches(const Element& e, unsigned char c)
{
    switch (e.kind) {
    case Kind::Any:
        return true;
    case Kind::Literal:
        return Upper(e.literal) == Upper(c);
    case Kind::Set: {
        return e.Has(Upper(c)) != e.negate;
    }
    case Kind::Star:
        break;
    }
    return false;
}

SetupError InvalidMask(const String& mask, std::size_t position)
{
    return SetupError(Format("'%s' is an invalid mask at (%d)", {mask, static_cast<long long>(position)}));
}

// Reads the set that opens at mask[open]; close is then the index of its "]".
SetupError ReadSet(const String& mask, std::size_t open, Element& set, std::size_t& close)
{
    std::size_t i = open + 1;
    if (i < mask.size() && mask[i] == '!') {
        set.negate = true;
        ++i;
    }
    bool havePrevious = false;
    unsigned char previous = 0;
    for (; i < mask.size() && mask[i] != ']'; ++i) {
        // Sets hold upper case only, ranges too: "[a-z]" and "[A-Z]" are one
        // set, whatever lies between the two cases in the code table.
        unsigned char c = Upper(static_cast<unsigned char>(mask[i]));
        if (c == '-' && !havePrevious)
            return InvalidMask(mask, i + 1);
        if (c == '-' && i + 1 < mask.size() && mask[i + 1] != ']') {
            unsigned char last = Upper(static_cast<unsigned char>(mask[++i]));
            for (unsigned v = previous; v <= last; ++v)
                set.Add(static_cast<unsigned char>(v));
            previous = last;
            continue;
        }
        // A "-" just before the "]" has no end, so it stands for itself.
        set.Add(c);
        previous = c;
        havePrevious = true;
    }
    if (i >= mask.size())
        return InvalidMask(mask, mask.size() + 1);
    // "[]" and "[!]" leave nothing to match.
    if (set.Empty())
        return InvalidMask(mask, i + 1);
    close = i;
    return SetupError();
}

// Every mask character makes at most one element, so elements has room for
// mask.size() of them; count tells how many were made. A fixed block, not a
// growing list: the stub carries every byte of code it ships.
SetupError Compile(const String& mask, Element* elements, std::size_t& count)
{
    count = 0;
    bool afterStar = false;
    int floating = 0;
    for (std::size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        if (c == '*') {
            if (!afterStar)
                elements[count++].kind = Kind::Star;
            afterStar = true;
            continue;
        }
        // "*?" is "*": a "?" right after a star consumes nothing.
        if (c == '?' && afterStar)
            continue;
        if (afterStar && ++floating > MaxFloatingElements)
            return InvalidMask(mask, i + 1);
        afterStar = false;
        Element e;
        if (c == '?') {
            e.kind = Kind::Any;
        } else if (c == '[') {
            e.kind = Kind::Set;
            if (SetupError error = ReadSet(mask, i, e, i))
                return error;
        } else {
            e.literal = static_cast<unsigned char>(c);
        }
        elements[count++] = e;
    }
    return SetupError();
}

} // namespace

SetupError MatchesMask(const String& name, const String& mask, bool& matches)
{
    matches = false;
    std::unique_ptr<Element[]> elements(new Element[mask.size() + 1]);
    std::size_t count;
    if (SetupError error = Compile(mask, elements.get(), count))
        return error;
    // Every element but a star takes exactly one character, so going back to
    // the last star alone is enough: the match costs at most
    // name length x mask length steps.
    std::size_t e = 0, s = 0;
    std::size_t starElement = String::npos, starName = 0;
    while (s < name.size()) {
        if (e < count && elements[e].kind == Kind::Star) {
            starElement = e++;
            starName = s;
        } else if (e < count && Matches(elements[e], static_cast<unsigned char>(name[s]))) {
            ++e;
            ++s;
        } else if (starElement != String::npos) {
            e = starElement + 1;
            s = ++starName;
        } else {
            return SetupError();
        }
    }
    while (e < count && elements[e].kind == Kind::Star)
        ++e;
    matches = e == count;
    return SetupError();
}
