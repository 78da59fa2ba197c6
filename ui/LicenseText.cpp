#include "ui/LicenseText.h"

#include "services/Text.h"

String LicenseTitle(const String& name) { return ShortStr(name + " License"); }

String WithCrLfBreaks(const String& text)
{
    String result;
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

String WithLineAdded(const String& text, const String& line)
{
    if (text.empty() || (text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n'))
        return text + line + "\r\n";
    return text + "\r\n" + line;
}
