// The owned text of the setup stub, and of the package code it shares with
// the packer: one pointer to a heap buffer that holds its length, its room
// and its characters (with a terminating zero). An empty one owns nothing,
// so making, moving and dropping one costs a store or a call, and every
// member that does real work is out of line: the stub has hundreds of texts,
// and std::string's inline small-buffer code at each of them is what it
// cannot afford. Texts may hold zero bytes; c_str() users see up to the
// first. Portable: no Win32 here.
//
// Two kinds: String holds bytes (the package's texts as stored, the
// packer's UTF-8), WString UTF-16 code units, the stub's text for every name
// once it is decoded. WideChar is the system's wchar_t on Windows, so a
// WString goes to W calls as it is, and char16_t elsewhere, so the same
// rules build and are tested natively.
#pragma once
#include <cstddef>

#ifdef _WIN32
using WideChar = wchar_t;
#else
using WideChar = char16_t;
#endif

template <class Char>
class BasicString {
public:
    static constexpr std::size_t npos = ~std::size_t(0);

    BasicString() = default;
    // nullptr reads as "".
    BasicString(const Char* text);
    BasicString(const Char* text, std::size_t length);
    // From another owner of text that offers c_str() and size(), as the
    // packer's code and the tests hold theirs.
    template <class Other, class = decltype(static_cast<const Char*>(static_cast<const Other*>(nullptr)->c_str())),
              class = decltype(static_cast<const Other*>(nullptr)->size())>
    BasicString(const Other& other) : BasicString(other.c_str(), other.size())
    {
    }
    BasicString(const BasicString& other);
    BasicString(BasicString&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
    ~BasicString();
    BasicString& operator=(const BasicString& other);
    BasicString& operator=(BasicString&& other) noexcept;
    BasicString& operator=(const Char* text);

    // Never null; valid until the next change.
    const Char* c_str() const { return text_ ? text_ : kEmpty; }
    // The characters in place, for changing them or for a call that takes
    // a writable text; never null (an empty one gets a buffer of its own).
    Char* data();
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    Char operator[](std::size_t i) const { return text_[i]; }
    Char back() const;

    BasicString& operator+=(const Char* text);
    BasicString& operator+=(const BasicString& text);
    BasicString& operator+=(Char c);
    BasicString& Append(const Char* text, std::size_t length);
    void clear();
    void pop_back();
    // Room for length characters, which the caller then writes; their
    // values until then are unspecified.
    Char* Resize(std::size_t length);

    // Characters from pos on, at most count of them (pos at most size()).
    BasicString substr(std::size_t pos, std::size_t count = npos) const;
    // The last position holding one of the characters of set, or npos.
    std::size_t find_last_of(const Char* set) const;
    // The first position from `from` on holding c, or npos.
    std::size_t find(Char c, std::size_t from = 0) const;
    // Whether the text starts with prefix.
    bool StartsWith(const Char* prefix) const;
    // Whether it holds exactly these characters.
    bool Equals(const Char* text, std::size_t length) const;

    // Found only for a BasicString operand, so that they never stand in for
    // the operators of other types.
    friend bool operator==(const BasicString& left, const BasicString& right)
    {
        return left.Equals(right.c_str(), right.size());
    }
    friend bool operator==(const BasicString& left, const Char* right) { return left.Equals(right, Length(right)); }
    friend bool operator!=(const BasicString& left, const BasicString& right) { return !(left == right); }
    friend bool operator!=(const BasicString& left, const Char* right) { return !(left == right); }
    // A new text; the left one is taken over, not copied.
    friend BasicString operator+(BasicString left, const Char* right)
    {
        return static_cast<BasicString&&>(left += right);
    }
    friend BasicString operator+(BasicString left, const BasicString& right)
    {
        return static_cast<BasicString&&>(left += right);
    }
    friend BasicString operator+(BasicString left, Char right) { return static_cast<BasicString&&>(left += right); }
    friend BasicString operator+(const Char* left, const BasicString& right) { return BasicString(left) + right; }
    // For test messages: any stream that takes a C string.
    template <class Stream>
    friend auto operator<<(Stream& out, const BasicString& text) -> decltype(out << static_cast<const Char*>(nullptr))
    {
        return out << text.c_str();
    }

    // Characters before the terminating zero.
    static std::size_t Length(const Char* text);

    // The empty text every empty one shows.
    static constexpr Char kEmpty[1] = {};

private:
    Char* text_ = nullptr;
};

using String = BasicString<char>;
using WString = BasicString<WideChar>;

extern template class BasicString<char>;
extern template class BasicString<WideChar>;
