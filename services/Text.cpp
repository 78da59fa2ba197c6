#include "services/Text.h"

String Format(const char* pattern, std::initializer_list<FormatArg> args)
{
    String out;
    const FormatArg* next = args.begin();
    for (const char* p = pattern; *p; ++p) {
        if (*p != '%' || (p[1] != 's' && p[1] != 'd' && p[1] != '%')) {
            out += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += '%';
            continue;
        }
        if (next == args.end())
            continue;
        const FormatArg& arg = *next++;
        if (arg.IsText()) {
            out += arg.Text();
        } else {
            long long v = arg.Number();
            unsigned long long mag = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                           : static_cast<unsigned long long>(v);
            char digits[24];
            int n = 0;
            do {
                // mag / 10 as long division in 32-bit steps (the high word,
                // then two 16-bit halves of the low word): 64-bit division
                // would link the runtime's long division helpers into the stub.
                uint32_t high = static_cast<uint32_t>(mag >> 32);
                uint32_t low = static_cast<uint32_t>(mag);
                uint32_t rest = high % 10;
                uint32_t upper = rest << 16 | low >> 16;
                rest = upper % 10;
                uint32_t lower = rest << 16 | (low & 0xFFFF);
                digits[n++] = static_cast<char>('0' + lower % 10);
                mag = static_cast<unsigned long long>(high / 10) << 32 | (upper / 10) << 16 | lower / 10;
            } while (mag);
            if (v < 0)
                out += '-';
            while (n)
                out += digits[--n];
        }
    }
    return out;
}

namespace {

// Adds delta to every character from first to last.
String ShiftRange(String text, char first, char last, int delta)
{
    char* c = text.data();
    for (std::size_t i = 0, n = text.size(); i < n; ++i)
        if (c[i] >= first && c[i] <= last)
            c[i] = static_cast<char>(c[i] + delta);
    return text;
}

} // namespace

String UpperAscii(String text) { return ShiftRange(static_cast<String&&>(text), 'a', 'z', 'A' - 'a'); }

String LowerAscii(String text) { return ShiftRange(static_cast<String&&>(text), 'A', 'Z', 'a' - 'A'); }

String LastComponent(const String& path)
{
    std::size_t cut = path.find_last_of("\\/:");
    return cut == String::npos ? path : path.substr(cut + 1);
}

String FileNamePart(const String& path)
{
    std::size_t cut = path.find_last_of("\\:");
    return cut == String::npos ? path : path.substr(cut + 1);
}

String ShortStr(const String& text)
{
    return text.size() > 255 ? text.substr(0, 255) : text;
}

bool NoLeadBytes(unsigned char) { return false; }

String FolderOfPath(const String& path, LeadByteTest isLeadByte)
{
    // Walk character by character so a trail byte of a double-byte character
    // (which may be 0x5C) is never mistaken for a backslash.
    const std::size_t none = String::npos;
    std::size_t last = none, beforeLast = none, prevStart = none;
    for (std::size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '\\' || c == ':') {
            last = i;
            beforeLast = prevStart;
        }
        prevStart = i;
        if (isLeadByte(c) && i + 1 < path.size())
            ++i;
    }
    if (last == none)
        return String();
    // A trailing "\" goes unless it follows ":" or another "\".
    bool keep = path[last] != '\\' || (beforeLast != none && beforeLast + 1 == last &&
                                       (path[beforeLast] == ':' || path[beforeLast] == '\\'));
    return path.substr(0, keep ? last + 1 : last);
}

String ParentWithSeparator(const String& path, LeadByteTest isLeadByte)
{
    std::size_t end = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '\\' || c == ':')
            end = i + 1;
        if (isLeadByte(c) && i + 1 < path.size())
            ++i;
    }
    return path.substr(0, end);
}

String WithBackslash(const String& folder)
{
    if (folder.empty() || folder.back() == '\\')
        return folder;
    return folder + '\\';
}
