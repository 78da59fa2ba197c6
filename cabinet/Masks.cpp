#include "cabinet/Masks.h"

#include <cstdint>
#include <memory>

#include "services/SetupError.h"
#include "services/Text.h"

namespace {

// Longer chains of "*x" get slow to match and are never needed for entry names.
const int MaxFloatingElements = 30;

enum class Kind : uint8_t { Star, Literal, Any, Set };

// A set is kept as the place of its text in the mask, read again for each
// character it is tried on: sets are rare and short, and a name may hold
// any of 65,536 characters, too many for a table per set.
struct Element {
    Kind kind = Kind::Literal;
    unsigned literal = 0;
    std::size_t open = 0, close = 0; // of a set: its "[" and "]"
};

// A character's value: a byte as unsigned, a UTF-16 unit as itself.
unsigned Code(char c) { return static_cast<unsigned char>(c); }
unsigned Code(WideChar c) { return static_cast<unsigned>(c); }

unsigned Upper(unsigned c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// Sets hold upper case only, ranges too: "[a-z]" and "[A-Z]" are one set,
// whatever lies between the two cases in the code table. Walks the set that
// opens at mask[open]; c is tested when `test`, and `any` tells whether the
// set holds a character at all. Returns the index of its "]", or the error's
// 1-based position as a negative number... see ReadSet.
template <class Char>
bool InSet(const BasicString<Char>& mask, const Element& set, unsigned c)
{
    std::size_t i = set.open + 1;
    const bool negate = mask[i] == '!';
    if (negate)
        ++i;
    c = Upper(c);
    bool found = false;
    unsigned previous = 0;
    for (; i < set.close; ++i) {
        unsigned m = Upper(Code(mask[i]));
        if (m == '-' && i + 1 < set.close) {
            unsigned last = Upper(Code(mask[++i]));
            found |= c >= previous && c <= last;
            previous = last;
            continue;
        }
        found |= c == m;
        previous = m;
    }
    return found != negate;
}

template <class Char>
bool Matches(const BasicString<Char>& mask, const Element& e, unsigned c)
{
    switch (e.kind) {
    case Kind::Any:
        return true;
    case Kind::Literal:
        return Upper(e.literal) == Upper(c);
    case Kind::Set:
        return InSet(mask, e, c);
    case Kind::Star:
        break;
    }
    return false;
}

template <class Char>
SetupError InvalidMask(const BasicString<Char>& mask, std::size_t position)
{
    return SetupError(WFormat("'%s' is an invalid mask at (%d)", {mask, static_cast<long long>(position)}));
}

// Reads the set that opens at mask[open]; its close is then the index of
// its "]".
template <class Char>
SetupError ReadSet(const BasicString<Char>& mask, std::size_t open, Element& set)
{
    std::size_t i = open + 1;
    if (i < mask.size() && mask[i] == '!')
        ++i;
    bool havePrevious = false, any = false;
    unsigned previous = 0;
    for (; i < mask.size() && mask[i] != ']'; ++i) {
        unsigned c = Upper(Code(mask[i]));
        if (c == '-' && !havePrevious)
            return InvalidMask(mask, i + 1);
        if (c == '-' && i + 1 < mask.size() && mask[i + 1] != ']') {
            unsigned last = Upper(Code(mask[++i]));
            any |= previous <= last;
            previous = last;
            continue;
        }
        // A "-" just before the "]" has no end, so it stands for itself.
        any = true;
        previous = c;
        havePrevious = true;
    }
    if (i >= mask.size())
        return InvalidMask(mask, mask.size() + 1);
    // "[]", "[!]" and "[z-a]" leave nothing to match.
    if (!any)
        return InvalidMask(mask, i + 1);
    set.kind = Kind::Set;
    set.open = open;
    set.close = i;
    return SetupError();
}

// Every mask character makes at most one element, so elements has room for
// mask.size() of them; count tells how many were made. A fixed block, not a
// growing list: the stub carries every byte of code it ships.
template <class Char>
SetupError Compile(const BasicString<Char>& mask, Element* elements, std::size_t& count)
{
    count = 0;
    bool afterStar = false;
    int floating = 0;
    for (std::size_t i = 0; i < mask.size(); ++i) {
        Char c = mask[i];
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
            if (SetupError error = ReadSet(mask, i, e))
                return error;
            i = e.close;
        } else {
            e.literal = Code(c);
        }
        elements[count++] = e;
    }
    return SetupError();
}

} // namespace

template <class Char>
SetupError MatchesMask(const BasicString<Char>& name, const BasicString<Char>& mask, bool& matches)
{
    matches = false;
    std::unique_ptr<Element[]> elements(new Element[mask.size() + 1]);
    std::size_t count;
    if (SetupError error = Compile(mask, elements.get(), count))
        return error;
    // Every element but a star takes exactly one character, so going back to
    // the last star alone is enough: the match costs at most
    // name length x mask length steps (a set's own length aside).
    std::size_t e = 0, s = 0;
    const std::size_t none = ~std::size_t(0);
    std::size_t starElement = none, starName = 0;
    while (s < name.size()) {
        if (e < count && elements[e].kind == Kind::Star) {
            starElement = e++;
            starName = s;
        } else if (e < count && Matches(mask, elements[e], Code(name[s]))) {
            ++e;
            ++s;
        } else if (starElement != none) {
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

template SetupError MatchesMask(const String&, const String&, bool&);
template SetupError MatchesMask(const WString&, const WString&, bool&);
