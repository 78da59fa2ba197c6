// mkpkg: writes a test package exactly as ComposePackage composes it.
//
//   mkpkg --stub STUB -o OUT [--product-name T] [--company-folder T]
//         [--short-name T] [--license-file T] [--install-folder T]
//         [--start-menu-folder T] [--gui-library T] [--file-count N]
//         [--uninstall-mode N] [--make-uninstaller N]
//         [--uninstall-link-style N] [--shortcuts-file F] [--payload F]
//         [--code-page N] [--asks N]
//
// Every header field but the sizes and checksums that the composition fills
// in has its option, named after its key. Texts are taken byte for byte (the
// system's ANSI code page). The shortcut list and the payload are raw files;
// both default to empty. --code-page or --asks writes the package's record
// (without them the package has none).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/Package.h"
#include "package/PackageWriter.h"

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "mkpkg: %s\n", message.c_str());
    return 2;
}

bool ReadFile(const std::string& path, std::vector<unsigned char>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long& value)
{
    if (text.empty() || text[0] == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value <= max;
}

// The header field an option sets: every field but the ones ComposePackage
// fills in.
const HeaderField* FieldOfOption(const std::string& option)
{
    for (const HeaderField& field : kHeaderFields) {
        bool composed = &field == &FieldOf(Field::Magic) || &field == &FieldOf(Field::Size) ||
                        (&field >= &FieldOf(Field::PayloadSize) && &field <= &FieldOf(Field::ShortcutListCrc));
        if (!composed && FieldOption(field) == option)
            return &field;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    std::string stubPath, outPath, shortcutsPath, payloadPath;
    PackageHeader header = PackageHeader::Blank();
    PackageRecord record;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (i + 1 >= argc)
            return Fail("option " + opt + " needs a value");
        std::string value = argv[++i];
        unsigned long n = 0;
        if (const HeaderField* field = FieldOfOption(opt)) {
            if (field->kind == FieldKind::Text) {
                if (!header.SetText(TextOf(*field), value))
                    return Fail(opt + ": longer than 100 bytes");
            } else {
                // Any value of the field's width, also those a packer never writes.
                const unsigned long most = field->kind == FieldKind::U8 ? 255 : 0xFFFFFFFFul;
                if (!ParseUnsigned(value, most, n))
                    return Fail(opt + ": not a number up to " + std::to_string(most));
                header.SetNumber(*field, static_cast<uint32_t>(n));
            }
        } else if (opt == "--stub") {
            stubPath = value;
        } else if (opt == "-o") {
            outPath = value;
        } else if (opt == "--shortcuts-file") {
            shortcutsPath = value;
        } else if (opt == "--payload") {
            payloadPath = value;
        } else if (opt == "--code-page" || opt == "--asks") {
            if (!ParseUnsigned(value, 0xFFFF, n))
                return Fail(opt + ": not a number up to 65535");
            record.present = true;
            (opt == "--asks" ? record.asks : record.codePage) = static_cast<uint16_t>(n);
        } else {
            return Fail("unknown option " + opt);
        }
    }
    if (stubPath.empty() || outPath.empty())
        return Fail("--stub and -o are required");

    std::vector<unsigned char> stub, shortcuts, payload;
    if (!ReadFile(stubPath, stub))
        return Fail("cannot read " + stubPath);
    if (stub.size() < kMarkerOffset + kMarkerSize)
        return Fail("the stub is too small to hold the marker");
    for (uint32_t i = 0; i < kMarkerSize; ++i)
        if (stub[kMarkerOffset + i] != 0)
            return Fail("the stub already carries a marker");
    if (!shortcutsPath.empty() && !ReadFile(shortcutsPath, shortcuts))
        return Fail("cannot read " + shortcutsPath);
    if (!payloadPath.empty() && !ReadFile(payloadPath, payload))
        return Fail("cannot read " + payloadPath);

    std::vector<unsigned char> package =
        ComposePackage(stub, header, std::string(shortcuts.begin(), shortcuts.end()), payload);
    if (record.present)
        record.Encode(&package[kRecordOffset]);
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
    out.close();
    if (!out)
        return Fail("cannot write " + outPath);
    return 0;
}
