#include "package/String.h"

#include <cstring>
#include <new>

namespace {

// What sits in front of the characters.
struct Head {
    std::size_t size;
    std::size_t room; // characters that fit, the terminating zero not counted
};

template <class Char>
Head* HeadOf(Char* text)
{
    return reinterpret_cast<Head*>(text) - 1;
}

// A buffer with room for at least `room` characters holding the first `keep`
// of text; text is released. Allocation goes through operator new, so that
// running out of memory ends the run the one way the program knows.
template <class Char>
Char* Regrow(Char* text, std::size_t keep, std::size_t room)
{
    Head* head = static_cast<Head*>(::operator new(sizeof(Head) + (room + 1) * sizeof(Char)));
    head->size = keep;
    head->room = room;
    Char* grown = reinterpret_cast<Char*>(head + 1);
    if (keep)
        std::memcpy(grown, text, keep * sizeof(Char));
    grown[keep] = Char();
    if (text)
        ::operator delete(HeadOf(text));
    return grown;
}

} // namespace

template <class Char>
std::size_t BasicString<Char>::Length(const Char* text)
{
    std::size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

template <class Char>
BasicString<Char>::BasicString(const Char* text) : BasicString(text ? text : kEmpty, text ? Length(text) : 0)
{
}

template <class Char>
BasicString<Char>::BasicString(const Char* text, std::size_t length)
{
    Append(text, length);
}

template <class Char>
BasicString<Char>::BasicString(const BasicString& other) : BasicString(other.c_str(), other.size())
{
}

template <class Char>
BasicString<Char>::~BasicString()
{
    if (text_)
        ::operator delete(HeadOf(text_));
}

template <class Char>
BasicString<Char>& BasicString<Char>::operator=(const BasicString& other)
{
    if (this != &other) {
        clear();
        Append(other.c_str(), other.size());
    }
    return *this;
}

template <class Char>
BasicString<Char>& BasicString<Char>::operator=(BasicString&& other) noexcept
{
    Char* mine = text_;
    text_ = other.text_;
    other.text_ = mine;
    return *this;
}

template <class Char>
BasicString<Char>& BasicString<Char>::operator=(const Char* text)
{
    // text may point into this very buffer: copy before letting go.
    BasicString copy(text);
    return *this = static_cast<BasicString&&>(copy);
}

template <class Char>
Char* BasicString<Char>::data()
{
    if (!text_)
        text_ = Regrow<Char>(nullptr, 0, 0);
    return text_;
}

template <class Char>
std::size_t BasicString<Char>::size() const
{
    return text_ ? HeadOf(text_)->size : 0;
}

template <class Char>
Char BasicString<Char>::back() const
{
    return text_[size() - 1];
}

template <class Char>
BasicString<Char>& BasicString<Char>::Append(const Char* text, std::size_t length)
{
    if (!length)
        return *this;
    const std::size_t size = this->size();
    if (!text_ || HeadOf(text_)->room - size < length) {
        // text may lie in the buffer that goes: the new one is made first.
        std::size_t room = size + length;
        room += room / 2 + 16;
        Char* grown = Regrow<Char>(nullptr, 0, room);
        std::memcpy(grown, c_str(), size * sizeof(Char));
        std::memcpy(grown + size, text, length * sizeof(Char));
        if (text_)
            ::operator delete(HeadOf(text_));
        text_ = grown;
    } else {
        std::memmove(text_ + size, text, length * sizeof(Char));
    }
    HeadOf(text_)->size = size + length;
    text_[size + length] = Char();
    return *this;
}

template <class Char>
BasicString<Char>& BasicString<Char>::operator+=(const Char* text)
{
    return Append(text, Length(text));
}

template <class Char>
BasicString<Char>& BasicString<Char>::operator+=(const BasicString& text)
{
    return Append(text.c_str(), text.size());
}

template <class Char>
BasicString<Char>& BasicString<Char>::operator+=(Char c)
{
    return Append(&c, 1);
}

template <class Char>
void BasicString<Char>::clear()
{
    if (text_) {
        HeadOf(text_)->size = 0;
        text_[0] = Char();
    }
}

template <class Char>
void BasicString<Char>::pop_back()
{
    std::size_t size = this->size();
    if (size) {
        HeadOf(text_)->size = size - 1;
        text_[size - 1] = Char();
    }
}

template <class Char>
Char* BasicString<Char>::Resize(std::size_t length)
{
    if (!text_ || HeadOf(text_)->room < length)
        text_ = Regrow(text_, size(), length);
    HeadOf(text_)->size = length;
    text_[length] = Char();
    return text_;
}

template <class Char>
BasicString<Char> BasicString<Char>::substr(std::size_t pos, std::size_t count) const
{
    std::size_t size = this->size();
    if (pos > size)
        pos = size;
    if (count > size - pos)
        count = size - pos;
    return BasicString(c_str() + pos, count);
}

template <class Char>
std::size_t BasicString<Char>::find_last_of(const Char* set) const
{
    for (std::size_t i = size(); i-- > 0;)
        for (const Char* s = set; *s; ++s)
            if (*s == text_[i])
                return i;
    return npos;
}

template <class Char>
std::size_t BasicString<Char>::find(Char c, std::size_t from) const
{
    for (std::size_t i = from, size = this->size(); i < size; ++i)
        if (text_[i] == c)
            return i;
    return npos;
}

template <class Char>
bool BasicString<Char>::Equals(const Char* text, std::size_t length) const
{
    return size() == length && std::memcmp(c_str(), text, length * sizeof(Char)) == 0;
}

template <class Char>
bool BasicString<Char>::StartsWith(const Char* prefix) const
{
    std::size_t length = Length(prefix);
    return size() >= length && std::memcmp(c_str(), prefix, length * sizeof(Char)) == 0;
}

template class BasicString<char>;
template class BasicString<WideChar>;
