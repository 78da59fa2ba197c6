// The owned text of the setup stub, and of the package code it shares with
// the packer: one pointer to a heap buffer that holds its length, its room
// and its characters (with a terminating zero). An empty one owns nothing,
// so making, moving and dropping one costs a store or a call, and every
// member that does real work is out of line: the stub has hundreds of texts,
// and std::string's inline small-buffer code at each of them is what it
// cannot afford. Texts may hold zero bytes; c_str() users see up to the
// first. Portable: no Win32 here.
#pragma once
#include <cstddef>

class String {
public:
    static constexpr std::size_t npos = ~std::size_t(0);

    String() = default;
    // nullptr reads as "".
    String(const char* text);
    String(const char* text, std::size_t length);
    // From another owner of text that offers c_str() and size(), as the
    // packer's code and the tests hold theirs.
    template <class Other, class = decltype(static_cast<const char*>(static_cast<const Other*>(nullptr)->c_str())),
              class = decltype(static_cast<const Other*>(nullptr)->size())>
    String(const Other& other) : String(other.c_str(), other.size())
    {
    }
    String(const String& other);
    String(String&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
    ~String();
    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);

    // Never null; valid until the next change.
    const char* c_str() const { return text_ ? text_ : ""; }
    // The characters in place, for changing them or for a call that takes
    // a writable text; never null (an empty one gets a buffer of its own).
    char* data();
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    char operator[](std::size_t i) const { return text_[i]; }
    char back() const;

    String& operator+=(const char* text);
    String& operator+=(const String& text);
    String& operator+=(char c);
    String& Append(const char* text, std::size_t length);
    void clear();
    void pop_back();
    // Room for length characters, which the caller then writes; their
    // values until then are unspecified.
    char* Resize(std::size_t length);

    // Characters from pos on, at most count of them (pos at most size()).
    String substr(std::size_t pos, std::size_t count = npos) const;
    // The last position holding one of the characters of set, or npos.
    std::size_t find_last_of(const char* set) const;
    // The first position from `from` on holding c, or npos.
    std::size_t find(char c, std::size_t from = 0) const;
    // Whether the text starts with prefix.
    bool StartsWith(const char* prefix) const;

    // Found only for a String operand, so that they never stand in for
    // the operators of other types.
    friend bool operator==(const String& left, const String& right);
    friend bool operator==(const String& left, const char* right);
    friend bool operator!=(const String& left, const String& right) { return !(left == right); }
    friend bool operator!=(const String& left, const char* right) { return !(left == right); }
    // A new text; the left one is taken over, not copied.
    friend String operator+(String left, const char* right);
    friend String operator+(String left, const String& right);
    friend String operator+(String left, char right);
    friend String operator+(const char* left, const String& right);
    // For test messages: any stream that takes a C string.
    template <class Stream>
    friend auto operator<<(Stream& out, const String& text) -> decltype(out << static_cast<const char*>(nullptr))
    {
        return out << text.c_str();
    }

private:
    char* text_ = nullptr;
};
