#include "package/PathRules.h"

#include <cstring>

#include "package/PeImage.h"

namespace {

// A character's value.
unsigned Code(WideChar c) { return static_cast<unsigned>(c); }

template <class Char>
const Char* Find(const Char* begin, const Char* end, char c)
{
    for (; begin != end; ++begin)
        if (Code(*begin) == static_cast<unsigned>(c))
            return begin;
    return nullptr;
}

unsigned Upper(unsigned c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// Windows drops trailing dots and spaces from a name, so "Startup. " and
// "nul .txt" reach the same place as "Startup" and "nul".
template <class Char>
const Char* TrimmedEnd(const Char* begin, const Char* end)
{
    while (end != begin && (end[-1] == '.' || end[-1] == ' '))
        --end;
    return end;
}

// [begin, end) equals the upper-case word, letters compared without case.
template <class Char>
bool IsWord(const Char* begin, const Char* end, const char* word)
{
    for (; begin != end; ++begin, ++word)
        if (!*word || Upper(Code(*begin)) != static_cast<unsigned>(*word))
            return false;
    return !*word;
}

template <class Char>
bool IsDevice(const Char* begin, const Char* end)
{
    const Char* dot = Find(begin, end, '.');
    end = TrimmedEnd(begin, dot ? dot : end);
    static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kPlain)
        if (IsWord(begin, end, name))
            return true;
    if (end - begin != 4 || !(IsWord(begin, begin + 3, "COM") || IsWord(begin, begin + 3, "LPT")))
        return false;
    // 0xB9, 0xB2, 0xB3: the superscript one, two and three, in code page
    // 1252 and in Unicode alike.
    unsigned digit = Code(begin[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

template <class Char>
NameRule CheckComponent(const Char* begin, const Char* end)
{
    if (begin == end)
        return NameRule::EmptyComponent;
    for (const Char* p = begin; p != end; ++p)
        if (Code(*p) < 0x20 || (Code(*p) < 0x80 && std::strchr("<>\"|?*/", static_cast<char>(*p))))
            return NameRule::BadCharacter;
    if (TrimmedEnd(begin, end) == begin)
        return NameRule::DotComponent;
    if (IsDevice(begin, end))
        return NameRule::DeviceName;
    return NameRule::Allowed;
}

template <class Char>
NameRule CheckPath(const Char* begin, const Char* end)
{
    if (begin == end)
        return NameRule::Empty;
    if (*begin == '\\' || *begin == '/' || (end - begin > 1 && begin[1] == ':'))
        return NameRule::Absolute;
    if (Find(begin, end, ':'))
        return NameRule::Colon;
    for (;;) {
        const Char* separator = Find(begin, end, '\\');
        NameRule rule = CheckComponent(begin, separator ? separator : end);
        if (rule != NameRule::Allowed || !separator)
            return rule;
        begin = separator + 1;
    }
}

template <class Char>
NameRule CheckName(const Char* begin, const Char* end)
{
    NameRule rule = CheckPath(begin, end);
    if (rule == NameRule::Allowed && Find(begin, end, '\\'))
        return NameRule::Folders;
    return rule;
}

// The header's texts as the rules take them: as stored, or decoded.
template <class Char>
HeaderNameFault CheckHeaderTexts(const PackageHeader& header, const BasicString<Char>* texts)
{
    // Each field: the rule for its text, whether it may be empty.
    struct Field {
        HeaderText field;
        NameRule (*rule)(const Char*, const Char*);
        bool optional;
    };
    const Field fields[] = {
        {HeaderText::CompanyFolder, CheckPath<Char>, true},
        {HeaderText::ShortName, CheckName<Char>, true},
        {HeaderText::LicenseFile, CheckName<Char>, true},
        {HeaderText::InstallFolder, CheckPath<Char>, false},
        // The group is made, and emptied again, only for a package with shortcuts.
        {HeaderText::StartMenuFolder, CheckPath<Char>, header.ShortcutListSize() == 0},
        // Link style 2 names the uninstaller after the product.
        {HeaderText::ProductName, CheckName<Char>, !(header.MakeUninstaller() && header.UninstallLinkStyle() == 2)},
    };
    for (const Field& f : fields) {
        const BasicString<Char>& text = texts[static_cast<int>(f.field)];
        const Char* begin = text.c_str();
        const Char* end = begin + text.size();
        if (f.field == HeaderText::ProductName && f.optional)
            continue;
        NameRule rule = begin == end && f.optional ? NameRule::Allowed : f.rule(begin, end);
        // The license entry is found with LicenseFile as the mask.
        for (const char* wild = "*?[]"; *wild && f.field == HeaderText::LicenseFile; ++wild)
            if (Find(begin, end, *wild))
                rule = NameRule::Wildcard;
        if (f.field == HeaderText::StartMenuFolder && rule == NameRule::Allowed) {
            const Char* first = Find(begin, end, '\\');
            if (IsWord(begin, TrimmedEnd(begin, first ? first : end), "STARTUP"))
                rule = NameRule::StartupFolder;
        }
        if (rule != NameRule::Allowed)
            return {f.field, rule};
    }
    return {};
}

} // namespace

template <class Char>
bool IsDeviceName(const BasicString<Char>& component)
{
    return IsDevice(component.c_str(), component.c_str() + component.size());
}

template <class Char>
NameRule CheckRelativePath(const BasicString<Char>& text)
{
    return CheckPath(text.c_str(), text.c_str() + text.size());
}

template <class Char>
NameRule CheckPlainName(const BasicString<Char>& text)
{
    return CheckName(text.c_str(), text.c_str() + text.size());
}

template <class Char>
std::size_t KeptLength(const BasicString<Char>& name)
{
    return static_cast<std::size_t>(TrimmedEnd(name.c_str(), name.c_str() + name.size()) - name.c_str());
}

template <class Char>
BasicString<Char> KeptPath(const BasicString<Char>& path)
{
    BasicString<Char> kept;
    const Char* begin = path.c_str();
    const Char* end = begin + path.size();
    for (;;) {
        const Char* separator = Find(begin, end, '\\');
        const Char* stop = separator ? separator : end;
        kept.Append(begin, static_cast<std::size_t>(TrimmedEnd(begin, stop) - begin));
        if (!separator)
            return kept;
        kept += static_cast<Char>('\\');
        begin = separator + 1;
    }
}

template <class Char>
NameRule CheckShortcutRecord(const BasicShortcutRecord<Char>& record, bool& targetBroke)
{
    NameRule rule = CheckPlainName(record.name);
    targetBroke = rule == NameRule::Allowed;
    return targetBroke ? CheckRelativePath(record.target) : rule;
}

NameRule CheckCopyRecord(const WShortcutRecord& record, bool subFolders, bool& copyBroke)
{
    NameRule rule = subFolders ? CheckRelativePath(record.name) : CheckPlainName(record.name);
    copyBroke = rule != NameRule::Allowed;
    return copyBroke ? rule : CheckRelativePath(record.target);
}

template std::size_t KeptLength(const String&);
template std::size_t KeptLength(const WString&);
template String KeptPath(const String&);
template WString KeptPath(const WString&);
template bool IsDeviceName(const WString&);
template NameRule CheckRelativePath(const WString&);
template NameRule CheckPlainName(const WString&);
template NameRule CheckShortcutRecord(const WShortcutRecord&, bool&);

// Bytes as stored are checked as characters of one byte each: the rules
// then hold for bytes exactly as for text, and exist once.
namespace {

WString Bytes(const char* text, std::size_t size)
{
    WString wide;
    WideChar* out = wide.Resize(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<WideChar>(static_cast<unsigned char>(text[i]));
    return wide;
}

WString Bytes(const String& text) { return Bytes(text.c_str(), text.size()); }

} // namespace

WString StoredAsText(const String& bytes) { return Bytes(bytes); }

template <>
bool IsDeviceName(const String& component)
{
    return IsDeviceName(Bytes(component));
}

template <>
NameRule CheckRelativePath(const String& text)
{
    return CheckRelativePath(Bytes(text));
}

template <>
NameRule CheckPlainName(const String& text)
{
    return CheckPlainName(Bytes(text));
}

template <>
NameRule CheckShortcutRecord(const ShortcutRecord& record, bool& targetBroke)
{
    return CheckShortcutRecord(WShortcutRecord{Bytes(record.target), Bytes(record.name)}, targetBroke);
}

HeaderNameFault CheckHeaderNames(const PackageHeader& header)
{
    WString texts[kHeaderTextCount];
    for (int i = 0; i < kHeaderTextCount; ++i) {
        unsigned length;
        const char* bytes = header.TextData(static_cast<HeaderText>(i), length);
        texts[i] = Bytes(bytes, length);
    }
    return CheckHeaderTexts(header, texts);
}

HeaderNameFault CheckHeaderNames(const PackageHeader& header, const WString* texts)
{
    return CheckHeaderTexts(header, texts);
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

const char* ProgramFilesOf(uint16_t machine)
{
    return machine == kPeMachineAmd64 ? "C:\\Program Files" : "C:\\Program Files (x86)";
}
