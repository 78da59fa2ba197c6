#include "ui/LicenseText.h"

#include "package/Package.h"
#include "services/Text.h"

namespace {

const WideChar kLicense[] = {' ', 'L', 'i', 'c', 'e', 'n', 's', 'e', 0};
const WideChar kCrLf[] = {'\r', '\n', 0};

bool StartsWithBytes(const String& bytes, const char* mark, std::size_t length)
{
    if (bytes.size() < length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (bytes[i] != mark[i])
            return false;
    return true;
}

} // namespace

WString LicenseTitle(const WString& name) { return ShortStr(name + kLicense); }

WString DecodeLicense(const String& bytes, TextDecoder decode, uint16_t codePage)
{
    if (StartsWithBytes(bytes, "\xEF\xBB\xBF", 3))
        return decode(bytes.c_str() + 3, bytes.size() - 3, kCodePageUtf8);
    if (!StartsWithBytes(bytes, "\xFF\xFE", 2))
        return decode(bytes.c_str(), bytes.size(), codePage);
    const std::size_t units = (bytes.size() - 2) / 2;
    const bool odd = bytes.size() % 2 != 0;
    WString text;
    WideChar* out = text.Resize(units + (odd ? 1 : 0));
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.c_str()) + 2;
    for (std::size_t i = 0; i < units; ++i)
        out[i] = static_cast<WideChar>(in[2 * i] | in[2 * i + 1] << 8);
    if (odd)
        out[units] = static_cast<WideChar>(0xFFFD);
    return text;
}

WString WithCrLfBreaks(const WString& text)
{
    WString result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        WideChar c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            result += kCrLf;
        } else if (c == '\n') {
            result += kCrLf;
        } else {
            result += c;
        }
    }
    return result;
}

WString WithLineAdded(const WString& text, const WString& line)
{
    if (text.empty() || (text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n'))
        return text + line + kCrLf;
    return text + kCrLf + line;
}
