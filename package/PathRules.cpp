#include "package/PathRules.h"

#include <cstring>

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows drops trailing dots and spaces from a name, so "Startup. " and
// "nul .txt" reach the same place as "Startup" and "nul".
const char* TrimmedEnd(const char* begin, const char* end)
{
    while (end != begin && (end[-1] == '.' || end[-1] == ' '))
        --end;
    return end;
}

// [begin, end) equals the upper-case word, letters compared without case.
bool IsWord(const char* begin, const char* end, const char* word)
{
    for (; begin != end; ++begin, ++word)
        if (!*word || Upper(*begin) != *word)
            return false;
    return !*word;
}

bool IsDeviceName(const char* begin, const char* end)
{
    const char* dot = static_cast<const char*>(std::memchr(begin, '.', end - begin));
    end = TrimmedEnd(begin, dot ? dot : end);
    static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kPlain)
        if (IsWord(begin, end, name))
            return true;
    if (end - begin != 4 || !(IsWord(begin, begin + 3, "COM") || IsWord(begin, begin + 3, "LPT")))
        return false;
    // 0xB9, 0xB2, 0xB3: the superscript one, two and three of code page 1252.
    unsigned char digit = static_cast<unsigned char>(begin[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

NameRule CheckComponent(const char* begin, const char* end)
{
    if (begin == end)
        return NameRule::EmptyComponent;
    for (const char* p = begin; p != end; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || std::strchr("<>\"|?*/", *p))
            return NameRule::BadCharacter;
    if (TrimmedEnd(begin, end) == begin)
        return NameRule::DotComponent;
    if (IsDeviceName(begin, end))
        return NameRule::DeviceName;
    return NameRule::Allowed;
}

NameRule CheckPath(const char* begin, const char* end)
{
    if (begin == end)
        return NameRule::Empty;
    if (*begin == '\\' || *begin == '/' || (end - begin > 1 && begin[1] == ':'))
        return NameRule::Absolute;
    if (std::memchr(begin, ':', end - begin))
        return NameRule::Colon;
    for (;;) {
        const char* separator = static_cast<const char*>(std::memchr(begin, '\\', end - begin));
        NameRule rule = CheckComponent(begin, separator ? separator : end);
        if (rule != NameRule::Allowed || !separator)
            return rule;
        begin = separator + 1;
    }
}

NameRule CheckName(const char* begin, const char* end)
{
    NameRule rule = CheckPath(begin, end);
    if (rule == NameRule::Allowed && std::memchr(begin, '\\', end - begin))
        return NameRule::Folders;
    return rule;
}

// A header text in place, as the range the rules take.
struct Text {
    const char* begin;
    const char* end;
    Text(const PackageHeader& header, HeaderText field)
    {
        unsigned length;
        begin = header.TextData(field, length);
        end = begin + length;
    }
    bool Empty() const { return begin == end; }
};

} // namespace

bool IsDeviceName(const String& component)
{
    return IsDeviceName(component.c_str(), component.c_str() + component.size());
}

NameRule CheckRelativePath(const String& text) { return CheckPath(text.c_str(), text.c_str() + text.size()); }

NameRule CheckPlainName(const String& text) { return CheckName(text.c_str(), text.c_str() + text.size()); }

HeaderNameFault CheckHeaderNames(const PackageHeader& header)
{
    // Each field: the rule for its text, whether it may be empty.
    struct Field {
        HeaderText field;
        NameRule (*rule)(const char*, const char*);
        bool optional;
    };
    const Field fields[] = {
        {HeaderText::CompanyFolder, CheckPath, true},
        {HeaderText::ShortName, CheckName, true},
        {HeaderText::LicenseFile, CheckName, true},
        {HeaderText::InstallFolder, CheckPath, false},
        // The group is made, and emptied again, only for a package with shortcuts.
        {HeaderText::StartMenuFolder, CheckPath, header.ShortcutListSize() == 0},
        // Link style 2 names the uninstaller after the product.
        {HeaderText::ProductName, CheckName, !(header.MakeUninstaller() && header.UninstallLinkStyle() == 2)},
    };
    for (const Field& f : fields) {
        Text text(header, f.field);
        if (f.field == HeaderText::ProductName && f.optional)
            continue;
        NameRule rule = text.Empty() && f.optional ? NameRule::Allowed : f.rule(text.begin, text.end);
        // The license entry is found with LicenseFile as the mask.
        if (f.field == HeaderText::LicenseFile)
            for (const char* p = text.begin; p != text.end; ++p)
                if (std::strchr("*?[]", *p))
                    rule = NameRule::Wildcard;
        if (f.field == HeaderText::StartMenuFolder && rule == NameRule::Allowed) {
            const char* first = static_cast<const char*>(std::memchr(text.begin, '\\', text.end - text.begin));
            if (IsWord(text.begin, TrimmedEnd(text.begin, first ? first : text.end), "STARTUP"))
                rule = NameRule::StartupFolder;
        }
        if (rule != NameRule::Allowed)
            return {f.field, rule};
    }
    return {};
}

NameRule CheckShortcutRecord(const ShortcutRecord& record, bool& targetBroke)
{
    NameRule rule = CheckPlainName(record.name);
    targetBroke = rule == NameRule::Allowed;
    return targetBroke ? CheckRelativePath(record.target) : rule;
}

const char* NameRuleText(NameRule rule)
{
    switch (rule) {
    case NameRule::Allowed: return "allowed";
    case NameRule::Empty: return "must not be empty";
    case NameRule::EmptyComponent: return "must not have an empty component (a doubled or trailing \\)";
    case NameRule::DotComponent: return "must not have a \".\" or \"..\" component";
    case NameRule::Absolute: return "must be relative (no drive, root or UNC form)";
    case NameRule::Colon: return "must not hold \":\"";
    case NameRule::BadCharacter: return "must not hold < > \" | ? * / or a control character";
    case NameRule::DeviceName: return "must not be a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    case NameRule::Wildcard: return "must not hold the wildcards * ? [ ]";
    case NameRule::Folders: return "must be a single name (no \\)";
    case NameRule::StartupFolder: return "must not be the Startup folder";
    }
    return "";
}

const char* NameRuleText(NameRule rule, const char* text, std::size_t size)
{
    // A component of dots and spaces that is neither "." nor "..".
    for (std::size_t at = 0; rule == NameRule::DotComponent && at <= size;) {
        std::size_t end = at;
        bool blank = true;
        while (end < size && text[end] != '\\') {
            blank = blank && (text[end] == '.' || text[end] == ' ');
            ++end;
        }
        const std::size_t n = end - at;
        if (blank && n > 0 && !(n == 1 && text[at] == '.') && !(n == 2 && text[at] == '.' && text[at + 1] == '.'))
            return "must not have a component of only spaces and dots (Windows drops them, leaving no name)";
        at = end + 1;
    }
    return NameRuleText(rule);
}

const char* HeaderTextName(HeaderText field) { return FieldOf(field).key; }
