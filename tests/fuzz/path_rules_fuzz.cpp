// libFuzzer target: the name rules on arbitrary text, alone and as the
// header texts; a name the rules allow never leads out of its folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "package/Package.h"
#include "package/PathRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const String text(reinterpret_cast<const char*>(data), size);
    const NameRule path = CheckRelativePath(text), name = CheckPlainName(text);
    IsDeviceName(text);
    NameRuleText(path);
    if (path == NameRule::Allowed) {
        // No root, no drive, no stream, and no component of dots and
        // spaces only (a way up, or a name Windows trims to nothing).
        if (data[0] == '\\' || std::memchr(data, ':', size))
            std::abort();
        for (size_t from = 0; from <= size;) {
            const uint8_t* cut = static_cast<const uint8_t*>(std::memchr(data + from, '\\', size - from));
            const size_t end = cut ? static_cast<size_t>(cut - data) : size;
            bool blank = true;
            for (size_t i = from; i < end; ++i)
                blank = blank && (data[i] == '.' || data[i] == ' ');
            if (blank)
                std::abort();
            from = end + 1;
        }
    }
    if (name == NameRule::Allowed && (path != NameRule::Allowed || std::memchr(data, '\\', size)))
        std::abort();

    // The texts of a header, cut from the input in turn.
    PackageHeader header = PackageHeader::Blank();
    size_t at = 0;
    for (int t = 0; t <= static_cast<int>(HeaderText::GuiLibrary) && at <= size; ++t) {
        const size_t n = size - at < kTextCapacity ? size - at : kTextCapacity;
        header.SetText(static_cast<HeaderText>(t), std::string(reinterpret_cast<const char*>(data) + at, n));
        at += n;
    }
    header.SetMakeUninstaller(size & 1);
    header.SetUninstallLinkStyle(static_cast<uint8_t>(size));
    header.SetShortcutListSize(static_cast<uint32_t>(size & 2));
    HeaderTextName(CheckHeaderNames(header).field);
    return 0;
}
