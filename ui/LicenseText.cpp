#include "ui/LicenseText.h"

#include "services/Text.h"

std::string LicenseTitle(const std::string& name) { return ShortStr(name + " License"); }

std::string WithCrLfBreaks(const std::string& text)
{
    std::string result;
    result.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            result += "\r\n";
        } else if (c == '\n') {
            result += "\r\n";
        } else {
            result += c;
        }
    }
    return result;
}

std::string WithLineAdded(const std::string& text, const std::string& line)
{
    if (text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0))
        return text + line + "\r\n";
    return text + "\r\n" + line;
}
