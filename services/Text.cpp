#include "services/Text.h"

std::string Format(const char* pattern, std::initializer_list<FormatArg> args)
{
    std::string out;
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

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string LastComponent(const std::string& path)
{
    std::string::size_type cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FileNamePart(const std::string& path)
{
    std::string::size_type cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ShortStr(const std::string& text)
{
    return text.size() > 255 ? text.substr(0, 255) : text;
}

bool NoLeadBytes(unsigned char) { return false; }

std::string FolderOfPath(const std::string& path, LeadByteTest isLeadByte)
{
    // Walk character by character so a trail byte of a double-byte character
    // (which may be 0x5C) is never mistaken for a backslash.
    const std::string::size_type none = std::string::npos;
    std::string::size_type last = none, beforeLast = none, prevStart = none;
    for (std::string::size_type i = 0; i < path.size(); ++i) {
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
        return std::string();
    std::string folder = path.substr(0, last + 1);
    if (path[last] == '\\') {
        bool keep = beforeLast != none && beforeLast + 1 == last &&
                    (path[beforeLast] == ':' || path[beforeLast] == '\\');
        if (!keep)
            folder.pop_back();
    }
    return folder;
}

std::string ParentWithSeparator(const std::string& path, LeadByteTest isLeadByte)
{
    std::string::size_type end = 0;
    for (std::string::size_type i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '\\' || c == ':')
            end = i + 1;
        if (isLeadByte(c) && i + 1 < path.size())
            ++i;
    }
    return path.substr(0, end);
}

std::string WithBackslash(const std::string& folder)
{
    if (folder.empty() || folder.back() == '\\')
        return folder;
    return folder + '\\';
}
