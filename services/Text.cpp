#include "services/Text.h"

namespace {

template <class Char>
void AppendText(BasicString<Char>& out, const FormatArg& arg)
{
    if (arg.IsWide())
        for (const WideChar* p = arg.Wide(); *p; ++p)
            out += static_cast<Char>(*p);
    else
        for (const char* p = arg.Text(); *p; ++p)
            out += static_cast<Char>(static_cast<unsigned char>(*p));
}

template <class Char>
BasicString<Char> FormatAs(const char* pattern, std::initializer_list<FormatArg> args)
{
    BasicString<Char> out;
    const FormatArg* next = args.begin();
    for (const char* p = pattern; *p; ++p) {
        if (*p != '%' || (p[1] != 's' && p[1] != 'd' && p[1] != '%')) {
            out += static_cast<Char>(*p);
            continue;
        }
        ++p;
        if (*p == '%') {
            out += Char('%');
            continue;
        }
        if (next == args.end())
            continue;
        const FormatArg& arg = *next++;
        if (arg.IsText()) {
            AppendText(out, arg);
        } else {
            long long v = arg.Number();
            unsigned long long mag = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                           : static_cast<unsigned long long>(v);
            Char digits[24];
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
                digits[n++] = static_cast<Char>('0' + lower % 10);
                mag = static_cast<unsigned long long>(high / 10) << 32 | (upper / 10) << 16 | lower / 10;
            } while (mag);
            if (v < 0)
                out += Char('-');
            while (n)
                out += digits[--n];
        }
    }
    return out;
}

// Adds delta to every character from first to last.
template <class Char>
BasicString<Char> ShiftRange(BasicString<Char> text, Char first, Char last, int delta)
{
    Char* c = text.data();
    for (std::size_t i = 0, n = text.size(); i < n; ++i)
        if (c[i] >= first && c[i] <= last)
            c[i] = static_cast<Char>(c[i] + delta);
    return text;
}

// The last position holding one of the separators, or npos.
template <class Char>
std::size_t LastSeparator(const BasicString<Char>& path, bool slash)
{
    for (std::size_t i = path.size(); i-- > 0;)
        if (path[i] == '\\' || path[i] == ':' || (slash && path[i] == '/'))
            return i;
    return BasicString<Char>::npos;
}

} // namespace

String Format(const char* pattern, std::initializer_list<FormatArg> args) { return FormatAs<char>(pattern, args); }

WString WFormat(const char* pattern, std::initializer_list<FormatArg> args)
{
    return FormatAs<WideChar>(pattern, args);
}

template <class Char>
BasicString<Char> UpperAscii(BasicString<Char> text)
{
    return ShiftRange(static_cast<BasicString<Char>&&>(text), Char('a'), Char('z'), 'A' - 'a');
}

template <class Char>
BasicString<Char> LowerAscii(BasicString<Char> text)
{
    return ShiftRange(static_cast<BasicString<Char>&&>(text), Char('A'), Char('Z'), 'a' - 'A');
}

template <class Char>
BasicString<Char> LastComponent(const BasicString<Char>& path)
{
    std::size_t cut = LastSeparator(path, true);
    return cut == BasicString<Char>::npos ? path : path.substr(cut + 1);
}

template <class Char>
BasicString<Char> FileNamePart(const BasicString<Char>& path)
{
    std::size_t cut = LastSeparator(path, false);
    return cut == BasicString<Char>::npos ? path : path.substr(cut + 1);
}

template <class Char>
BasicString<Char> ShortStr(const BasicString<Char>& text)
{
    return text.size() > 255 ? text.substr(0, 255) : text;
}

template <class Char>
BasicString<Char> WithBackslash(const BasicString<Char>& folder)
{
    if (folder.empty() || folder.back() == '\\')
        return folder;
    return folder + Char('\\');
}

#define CABSETUP_TEXT_FOR(Char)                                                                                        \
    template BasicString<Char> UpperAscii(BasicString<Char>);                                                          \
    template BasicString<Char> LowerAscii(BasicString<Char>);                                                          \
    template BasicString<Char> LastComponent(const BasicString<Char>&);                                                \
    template BasicString<Char> FileNamePart(const BasicString<Char>&);                                                 \
    template BasicString<Char> ShortStr(const BasicString<Char>&);                                                     \
    template BasicString<Char> WithBackslash(const BasicString<Char>&);
CABSETUP_TEXT_FOR(char)
CABSETUP_TEXT_FOR(WideChar)
#undef CABSETUP_TEXT_FOR

WString FolderOfPath(const WString& path)
{
    const std::size_t last = LastSeparator(path, false);
    if (last == WString::npos)
        return WString();
    // A trailing "\" goes unless it follows ":" or another "\".
    bool keep = path[last] != '\\' || (last > 0 && (path[last - 1] == ':' || path[last - 1] == '\\'));
    return path.substr(0, keep ? last + 1 : last);
}

WString ParentWithSeparator(const WString& path)
{
    const std::size_t last = LastSeparator(path, false);
    return path.substr(0, last == WString::npos ? 0 : last + 1);
}

WString WidenAscii(const char* text)
{
    WString wide;
    AppendText(wide, FormatArg(text));
    return wide;
}
