// UTF-8 and UTF-16 for the native tests: texts written readably in the
// tests, and test messages. (The stub converts with the system's calls.)
#pragma once
#include <cstdint>
#include <ostream>

#include "package/String.h"

inline String Utf8Of(const WString& text)
{
    String out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        char bytes[4];
        int n;
        if (c < 0x80) {
            bytes[0] = static_cast<char>(c);
            n = 1;
        } else {
            // Continuation bytes from the last one back; the lead byte takes
            // what is left under its length mark.
            n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
            for (int k = n - 1; k > 0; --k, c >>= 6)
                bytes[k] = static_cast<char>(0x80 | (c & 0x3F));
            bytes[0] = static_cast<char>((0xF00 >> n) | c);
        }
        out.Append(bytes, n);
    }
    return out;
}

inline WString FromUtf8(const char* bytes, std::size_t size)
{
    WString out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size;) {
        const unsigned lead = p[i];
        // Sequence length and the smallest value it may carry (no overlong forms).
        int n = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
        uint32_t c = n == 1 ? lead : lead & (0x7F >> n);
        int k = 1;
        for (; n > 1 && k < n && i + k < size && (p[i + k] & 0xC0) == 0x80; ++k)
            c = c << 6 | (p[i + k] & 0x3F);
        static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (n == 0 || k < n || c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += static_cast<WideChar>(0xFFFD);
            i += k > 1 ? k : 1;
            continue;
        }
        i += n;
        if (c >= 0x10000) {
            out += static_cast<WideChar>(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        out += static_cast<WideChar>(c);
    }
    return out;
}

// Wide texts in test messages, as UTF-8.
inline void PrintTo(const WString& text, std::ostream* out) { *out << Utf8Of(text).c_str(); }
