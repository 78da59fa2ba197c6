#include "tools/pack/cli/Manifest.h"

#include "package/Package.h"
#include "tools/pack/ToolError.h"

namespace {

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Unquote(const std::string& v)
{
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        return v.substr(1, v.size() - 2);
    return v;
}

} // namespace

const std::vector<std::string>& ManifestKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (const HeaderField& field : kHeaderFields)
            if (field.makerSets)
                k.push_back(field.key);
        return k;
    }();
    return keys;
}

Manifest ParseManifest(const std::string& input)
{
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    Manifest m;
    enum class Section { Package, Shortcuts } section = Section::Package;
    size_t pos = 0;
    for (int lineNo = 1; pos <= text.size(); ++lineNo) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = Trim(line);
        auto fail = [&](const std::string& why) {
            throw ToolError("manifest line " + std::to_string(lineNo) + ": " + why);
        };
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                fail("unclosed section name");
            std::string name = Lower(Trim(line.substr(1, line.size() - 2)));
            if (name == "package")
                section = Section::Package;
            else if (name == "shortcuts")
                section = Section::Shortcuts;
            else
                fail("unknown section [" + line.substr(1, line.size() - 2) + "] (known: [Package], [Shortcuts])");
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            fail("expected key=value");
        std::string key = Trim(line.substr(0, eq));
        std::string value = Unquote(Trim(line.substr(eq + 1)));
        if (key.empty())
            fail("empty key");
        if (section == Section::Shortcuts) {
            m.shortcuts.emplace_back(key, value);
            continue;
        }
        const HeaderField* field = FindHeaderField(key);
        if (!field || !field->makerSets)
            fail("unknown key \"" + key + "\"");
        if (m.fields.count(field->key))
            fail(std::string(field->key) + " is given twice");
        m.fields[field->key] = value;
    }
    return m;
}
