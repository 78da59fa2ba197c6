#include "package/String.h"

#include <cstring>
#include <new>

namespace {

// What sits in front of the characters.
struct Head {
    std::size_t size;
    std::size_t room; // characters that fit, the terminating zero not counted
};

Head* HeadOf(char* text) { return reinterpret_cast<Head*>(text) - 1; }

// A buffer with room for at least `room` characters holding the first `keep`
// of text; text is released. Allocation goes through operator new, so that
// running out of memory ends the run the one way the program knows.
char* Regrow(char* text, std::size_t keep, std::size_t room)
{
    Head* head = static_cast<Head*>(::operator new(sizeof(Head) + room + 1));
    head->size = keep;
    head->room = room;
    char* grown = reinterpret_cast<char*>(head + 1);
    if (keep)
        std::memcpy(grown, text, keep);
    grown[keep] = '\0';
    if (text)
        ::operator delete(HeadOf(text));
    return grown;
}

char* Copy(const char* text, std::size_t length)
{
    char* copy = Regrow(nullptr, 0, length);
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    HeadOf(copy)->size = length;
    return copy;
}

} // namespace

String::String(const char* text) : String(text ? text : "", text ? std::strlen(text) : 0) {}

String::String(const char* text, std::size_t length) : text_(length ? Copy(text, length) : nullptr) {}

String::String(const String& other) : String(other.c_str(), other.size()) {}

String::~String()
{
    if (text_)
        ::operator delete(HeadOf(text_));
}

String& String::operator=(const String& other)
{
    if (this != &other) {
        clear();
        Append(other.c_str(), other.size());
    }
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    char* mine = text_;
    text_ = other.text_;
    other.text_ = mine;
    return *this;
}

String& String::operator=(const char* text)
{
    // text may point into this very buffer: copy before letting go.
    String copy(text);
    return *this = static_cast<String&&>(copy);
}

char* String::data()
{
    if (!text_)
        text_ = Regrow(nullptr, 0, 0);
    return text_;
}

std::size_t String::size() const { return text_ ? HeadOf(text_)->size : 0; }

char String::back() const { return text_[size() - 1]; }

String& String::Append(const char* text, std::size_t length)
{
    if (!length)
        return *this;
    const std::size_t size = this->size();
    if (!text_ || HeadOf(text_)->room - size < length) {
        // text may lie in the buffer that goes: the new one is made first.
        std::size_t room = size + length;
        room += room / 2 + 16;
        char* grown = Regrow(nullptr, 0, room);
        std::memcpy(grown, c_str(), size);
        std::memcpy(grown + size, text, length);
        if (text_)
            ::operator delete(HeadOf(text_));
        text_ = grown;
    } else {
        std::memmove(text_ + size, text, length);
    }
    HeadOf(text_)->size = size + length;
    text_[size + length] = '\0';
    return *this;
}

String& String::operator+=(const char* text) { return Append(text, std::strlen(text)); }

String& String::operator+=(const String& text) { return Append(text.c_str(), text.size()); }

String& String::operator+=(char c) { return Append(&c, 1); }

void String::clear()
{
    if (text_) {
        HeadOf(text_)->size = 0;
        text_[0] = '\0';
    }
}

void String::pop_back()
{
    std::size_t size = this->size();
    if (size) {
        HeadOf(text_)->size = size - 1;
        text_[size - 1] = '\0';
    }
}

char* String::Resize(std::size_t length)
{
    if (!text_ || HeadOf(text_)->room < length)
        text_ = Regrow(text_, size(), length);
    HeadOf(text_)->size = length;
    text_[length] = '\0';
    return text_;
}

String String::substr(std::size_t pos, std::size_t count) const
{
    std::size_t size = this->size();
    if (pos > size)
        pos = size;
    if (count > size - pos)
        count = size - pos;
    return String(c_str() + pos, count);
}

std::size_t String::find_last_of(const char* set) const
{
    for (std::size_t i = size(); i-- > 0;)
        if (std::strchr(set, text_[i]) && text_[i])
            return i;
    return npos;
}

std::size_t String::find(char c, std::size_t from) const
{
    for (std::size_t i = from, size = this->size(); i < size; ++i)
        if (text_[i] == c)
            return i;
    return npos;
}

bool String::StartsWith(const char* prefix) const
{
    std::size_t length = std::strlen(prefix);
    return size() >= length && std::memcmp(c_str(), prefix, length) == 0;
}

bool operator==(const String& left, const String& right)
{
    return left.size() == right.size() && std::memcmp(left.c_str(), right.c_str(), left.size()) == 0;
}

bool operator==(const String& left, const char* right)
{
    std::size_t length = std::strlen(right);
    return left.size() == length && std::memcmp(left.c_str(), right, length) == 0;
}

String operator+(String left, const char* right) { return static_cast<String&&>(left += right); }

String operator+(String left, const String& right) { return static_cast<String&&>(left += right); }

String operator+(String left, char right) { return static_cast<String&&>(left += right); }

String operator+(const char* left, const String& right) { return String(left) + right; }
