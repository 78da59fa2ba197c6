// libFuzzer target: the command-line splitter and the switch reader on
// arbitrary UTF-16 (two input bytes a unit). Every argument it gives back,
// quoted the way a program that starts another quotes it, splits again into
// the same arguments: nothing a caller writes can be read as another switch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "loader/CommandLine.h"

namespace {

// Quoted as CommandLineToArgvW reads it back: in quotes, backslashes
// doubled before a quote and before the closing one.
void AddSlashes(WString& out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out += WideChar('\\');
}

WString Quoted(const WideChar* argument)
{
    WString out;
    out += WideChar('"');
    std::size_t slashes = 0;
    for (const WideChar* p = argument; *p; ++p) {
        if (*p == '\\') {
            ++slashes;
            continue;
        }
        AddSlashes(out, *p == '"' ? 2 * slashes + 1 : slashes);
        slashes = 0;
        out += *p;
    }
    AddSlashes(out, 2 * slashes);
    out += WideChar('"');
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WString line;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const WideChar unit = static_cast<WideChar>(data[i] | data[i + 1] << 8);
        if (unit)
            line += unit;
    }
    const Arguments args = SplitCommandLine(line.c_str());
    ReadCommandLine(args);
    if (args.Count() == 0 && !line.empty() && line[0] != ' ' && line[0] != '\t')
        std::abort();
    // A program's name, then each argument.
    WString again;
    again += WideChar('x');
    for (std::size_t i = 1; i < args.Count(); ++i) {
        again += WideChar(' ');
        again += Quoted(args[i]);
    }
    const Arguments split = SplitCommandLine(again.c_str());
    if (split.Count() != (args.Count() ? args.Count() : 1))
        std::abort();
    for (std::size_t i = 1; i < args.Count(); ++i)
        if (!(WString(split[i]) == WString(args[i])))
            std::abort();
    return 0;
}
