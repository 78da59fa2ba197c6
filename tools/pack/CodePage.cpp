#include "tools/pack/CodePage.h"

#include <iconv.h>
#include <unicase.h>
#include <uninorm.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "package/LittleEndian.h"

namespace {

// 0x80..0x9F of code page 1252; the five holes decode to the C1 controls
// as Windows does, and are never produced by encoding.
const uint16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool DecodeUtf8(const std::string& s, std::vector<uint32_t>& out)
{
    out.clear();
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if (c >= 0xC2 && c <= 0xDF) { cp = c & 0x1F; extra = 1; }
        else if (c >= 0xE0 && c <= 0xEF) { cp = c & 0x0F; extra = 2; }
        else if (c >= 0xF0 && c <= 0xF4) { cp = c & 0x07; extra = 3; }
        else return false;
        if (extra > 0 && i + extra >= s.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        out.push_back(cp);
        i += extra + 1;
    }
    return true;
}

void EncodeUtf8(uint32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() { if (ok()) iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // One character at a time, so an undefined byte can be replaced.
    bool Convert(const char* in, size_t inLen, std::string& out)
    {
        char buf[16];
        char* inPtr = const_cast<char*>(in);
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &inPtr, &inLen, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLen != 0)
            return false;
        out.append(buf, sizeof buf - outLeft);
        return true;
    }

private:
    iconv_t cd_;
};

std::string IconvName(int codePage) { return "CP" + std::to_string(codePage); }

bool IsDoubleByte(int codePage) { return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950; }

// A character to its bytes, and only when they decode back to the same
// character: a best-fit mapping ("ü" to "u", "¥" to "\") would install
// another name than the one packed.
bool EncodeRoundTrip(Iconv& to, Iconv& from, uint32_t cp, std::string& out)
{
    unsigned char in[4];
    PutU32(in, cp);
    std::string bytes, back;
    if (!to.Convert(reinterpret_cast<const char*>(in), 4, bytes) || bytes.empty() || bytes.size() > 2 ||
        !from.Convert(bytes.data(), bytes.size(), back) || back.size() != 4 ||
        GetU32(reinterpret_cast<const unsigned char*>(back.data())) != cp)
        return false;
    out += bytes;
    return true;
}

} // namespace

bool IsSupportedCodePage(int codePage)
{
    return codePage == 874 || (codePage >= 1250 && codePage <= 1258) || IsDoubleByte(codePage) ||
           codePage == kUtf8CodePage;
}

const char* SupportedCodePages() { return "65001 (UTF-8), 874, 932, 936, 949, 950, 1250-1258"; }

std::string Composed(const std::string& utf8)
{
    // libunistring would put U+FFFD for what is not UTF-8; the callers
    // refuse such text, so it is kept for them to see.
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(utf8, cps))
        return utf8;
    size_t length = 0;
    uint8_t* nfc = u8_normalize(UNINORM_NFC, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), nullptr,
                                &length);
    if (!nfc)
        return utf8;
    std::string out(reinterpret_cast<const char*>(nfc), length);
    std::free(nfc);
    return out;
}

bool ToAnsi(const std::string& text, int codePage, std::string& out, std::string* bad)
{
    out.clear();
    std::vector<uint32_t> cps;
    const std::string utf8 = Composed(text);
    if (!IsSupportedCodePage(codePage) || !DecodeUtf8(utf8, cps))
        return false;
    auto refuse = [&](uint32_t cp) {
        if (bad) {
            bad->clear();
            EncodeUtf8(cp, *bad);
        }
        return false;
    };
    if (codePage == kUtf8CodePage) {
        out = utf8;
        return true;
    }
    if (codePage == 1252) {
        for (uint32_t cp : cps) {
            if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
                out += static_cast<char>(cp);
                continue;
            }
            int found = -1;
            for (int k = 0; k < 32; ++k)
                if (k1252High[k] == cp && !(cp >= 0x80 && cp < 0xA0))
                    found = k;
            if (found < 0)
                return refuse(cp);
            out += static_cast<char>(0x80 + found);
        }
        return true;
    }
    Iconv to(IconvName(codePage).c_str(), "UTF-32LE"), from("UTF-32LE", IconvName(codePage).c_str());
    if (!to.ok() || !from.ok())
        return false;
    for (uint32_t cp : cps) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        if (cp < 0xA0 || !EncodeRoundTrip(to, from, cp, out))
            return refuse(cp);
    }
    return true;
}

std::string FromAnsi(const std::string& ansi, int codePage)
{
    std::string out;
    if (codePage == kUtf8CodePage) {
        std::vector<uint32_t> one;
        for (size_t i = 0; i < ansi.size();) {
            // The longest valid sequence from here, else one replaced byte.
            size_t n = 4;
            while (n > 0 && !(i + n <= ansi.size() && DecodeUtf8(ansi.substr(i, n), one) && one.size() == 1))
                --n;
            if (n == 0) {
                EncodeUtf8(0xFFFD, out);
                ++i;
            } else {
                out.append(ansi, i, n);
                i += n;
            }
        }
        return out;
    }
    if (codePage == 1252 || !IsSupportedCodePage(codePage)) {
        for (char ch : ansi) {
            unsigned char c = static_cast<unsigned char>(ch);
            EncodeUtf8(c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : c, out);
        }
        return out;
    }
    Iconv cv("UTF-8", IconvName(codePage).c_str());
    const size_t most = IsDoubleByte(codePage) ? 2 : 1;
    for (size_t i = 0; i < ansi.size();) {
        if (static_cast<unsigned char>(ansi[i]) < 0x80) {
            out += ansi[i++];
            continue;
        }
        size_t n = 1;
        while (n <= most && !(i + n <= ansi.size() && cv.ok() && cv.Convert(&ansi[i], n, out)))
            ++n;
        if (n > most) {
            EncodeUtf8(0xFFFD, out);
            n = 1;
        }
        i += n;
    }
    return out;
}

bool IsText(const std::string& bytes, int codePage)
{
    std::vector<uint32_t> cps;
    if (codePage == kUtf8CodePage)
        return DecodeUtf8(bytes, cps);
    return FromAnsi(bytes, codePage).find("\xEF\xBF\xBD") == std::string::npos;
}

std::string RuleForm(const std::string& utf8)
{
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(utf8, cps))
        return utf8;
    std::string out;
    for (uint32_t cp : cps)
        out += static_cast<char>(cp < 0x80 || cp == 0xB9 || cp == 0xB2 || cp == 0xB3 ? cp : 0x80);
    return out;
}

size_t Utf16Length(const std::string& utf8)
{
    std::u16string utf16;
    return ToUtf16(utf8, utf16) ? utf16.size() : utf8.size();
}

std::string FoldCase(const std::string& utf8)
{
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(utf8, cps))
        return utf8;
    std::string out;
    for (uint32_t cp : cps) {
        if ((cp >= 'a' && cp <= 'z') || (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) ||
            (cp >= 0x3B1 && cp <= 0x3C9 && cp != 0x3C2) || (cp >= 0x430 && cp <= 0x44F))
            cp -= 0x20;
        else if (cp >= 0x450 && cp <= 0x45F)
            cp -= 0x50;
        else if (cp == 0xFF)
            cp = 0x178;
        else if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 &&
                 cp != 0x17F) {
            // Latin Extended-A pairs capital and small letters; the run
            // 0x139..0x148 and 0x179..0x17E pair odd with even.
            bool oddCapital = (cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E);
            if (oddCapital ? (cp % 2 == 0) : (cp % 2 == 1))
                cp -= 1;
        } else if (cp >= 0x180 && cp < 0x10000 && cp != 0x3C2) {
            // The rest of the plane by Unicode's simple upper case, as the
            // file system's table has it (full-width, Armenian, Latin and
            // Cyrillic extensions, ...); one character never becomes two.
            cp = uc_toupper(cp);
        }
        EncodeUtf8(cp, out);
    }
    return out;
}

bool ToUtf16(const std::string& utf8, std::u16string& out)
{
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(utf8, cps))
        return false;
    out.clear();
    for (uint32_t cp : cps) {
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            cp = 0xDC00 + ((cp - 0x10000) & 0x3FF);
        }
        out += static_cast<char16_t>(cp);
    }
    return true;
}
