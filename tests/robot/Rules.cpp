#include "Robot.h"

#include <cwctype>

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::string JsonString(const std::wstring& text)
{
    std::string in = Utf8(text);
    std::string out = "\"";
    for (unsigned char c : in) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                wsprintfA(buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::wstring PlainLabel(const std::wstring& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&') {
            // "&&" is a literal ampersand.
            if (i + 1 < text.size() && text[i + 1] == L'&')
                out += L'&', ++i;
            continue;
        }
        out += static_cast<wchar_t>(std::towlower(text[i]));
    }
    return out;
}

namespace {

std::wstring Unescape(const std::wstring& value)
{
    std::wstring out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != L'\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        wchar_t c = value[++i];
        out += c == L't' ? L'\t' : c == L'r' ? L'\r' : c == L'n' ? L'\n' : c;
    }
    return out;
}

std::vector<std::wstring> SplitTabs(const std::wstring& line)
{
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos)
            return fields;
        start = tab + 1;
    }
}

bool ParseNumber(const std::wstring& text, long& value)
{
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    value = std::wcstol(text.c_str(), &end, 10);
    return *end == L'\0' && value >= 0;
}

} // namespace

bool ParseRule(const std::wstring& rawLine, Rule& rule, std::wstring& error)
{
    std::wstring line = rawLine;
    while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n'))
        line.pop_back();
    std::vector<std::wstring> fields = SplitTabs(line);
    if (fields[0] == L"box")
        rule.kind = Rule::Kind::Box;
    else if (fields[0] == L"window")
        rule.kind = Rule::Kind::Window;
    else {
        error = L"unknown rule kind '" + fields[0] + L"'";
        return false;
    }
    // A window rule acts once unless told otherwise; a box rule answers every
    // box that matches.
    rule.count = rule.kind == Rule::Kind::Window ? 1 : -1;
    int actions = 0;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        if (fields[i].empty())
            continue;
        std::size_t eq = fields[i].find(L'=');
        std::wstring key = fields[i].substr(0, eq);
        std::wstring value = eq == std::wstring::npos ? std::wstring() : Unescape(fields[i].substr(eq + 1));
        long number = 0;
        if (key == L"text")
            rule.text = value;
        else if (key == L"title")
            rule.title = value;
        else if (key == L"when")
            rule.when = value;
        else if (key == L"press")
            rule.action = Rule::Action::Press, rule.button = value, ++actions;
        else if (key == L"key")
            rule.action = Rule::Action::Key, rule.key = value, ++actions;
        else if (key == L"close") {
            if (value != L"" && value != L"wm" && value != L"sc") {
                error = L"close takes wm or sc";
                return false;
            }
            rule.action = Rule::Action::Close, rule.sysClose = value == L"sc", ++actions;
        } else if (key == L"once")
            rule.count = 1;
        else if (key == L"count" && ParseNumber(value, number))
            rule.count = static_cast<int>(number);
        else if (key == L"delay" && ParseNumber(value, number))
            rule.delay = static_cast<DWORD>(number);
        else {
            error = L"bad field '" + fields[i] + L"'";
            return false;
        }
    }
    if (actions != 1) {
        error = L"a rule needs exactly one of press=, key=, close";
        return false;
    }
    if (rule.kind == Rule::Kind::Box && rule.action != Rule::Action::Press && rule.action != Rule::Action::Close) {
        error = L"a box rule presses a button or closes the box";
        return false;
    }
    return true;
}
