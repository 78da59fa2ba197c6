#include "tools/pack/cli/Options.h"

#include <cstdlib>
#include <cstring>

#include "tools/pack/CodePage.h"

int ParseInt(const std::string& option, const std::string& v, int lo, int hi)
{
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || n < lo || n > hi)
        throw UsageError(option + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<int>(n);
}

std::pair<std::string, std::string> SplitPair(const std::string& option, const std::string& v)
{
    size_t eq = v.find('=');
    if (eq == std::string::npos)
        throw UsageError(option + " takes NAME=VALUE, not \"" + v + "\"");
    return {v.substr(0, eq), v.substr(eq + 1)};
}

// mszip, lzx, lzx:BITS or none. MSZIP keeps a level given before it.
void ParseCompression(const std::string& v, CabWriteOptions& cab)
{
    cab.lzxWindowBits = 0;
    if (v == "none") {
        cab.level = 0;
    } else if (v == "mszip") {
        if (cab.level == 0)
            cab.level = kDefaultLevel;
    } else if (v == "lzx") {
        cab.lzxWindowBits = kLzxMaxWindowBits;
    } else if (v.compare(0, 4, "lzx:") == 0) {
        cab.lzxWindowBits = ParseInt("--compression lzx:BITS", v.substr(4), kLzxMinWindowBits, kLzxMaxWindowBits);
    } else {
        throw UsageError("--compression takes mszip, lzx, lzx:15 to lzx:21 or none, not \"" + v + "\"");
    }
}

// Options shared by pack and cab. Returns true when it took the argument.
bool FileOption(Args& a, CollectOptions& collect, CabWriteOptions& cab)
{
    std::string v;
    if (a.Value("--exclude", v)) {
        collect.exclude.push_back(v);
    } else if (a.Value("--run", v)) {
        collect.run.push_back(v);
    } else if (a.Value("--attrib", v)) {
        collect.attribs.push_back(SplitPair("--attrib", v));
        ParseAttributes(collect.attribs.back().second);
    } else if (a.Value("--mtime", v)) {
        char* end = nullptr;
        long long t = std::strtoll(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0')
            throw UsageError("--mtime takes seconds since 1970");
        collect.fixedTime = t;
    } else if (a.Value("--time-zone", v)) {
        try {
            collect.zoneMinutes = ParseZone(v);
        } catch (const ToolError& e) {
            throw UsageError(e.what());
        }
    } else if (a.Value("--compression", v)) {
        ParseCompression(v, cab);
    } else if (a.Value("--level", v)) {
        cab.level = ParseInt("--level", v, 0, 9);
        cab.lzxWindowBits = 0;
    } else if (a.Flag("--no-compress")) {
        cab.level = 0;
        cab.lzxWindowBits = 0;
    } else if (a.Value("--threads", v)) {
        cab.threads = static_cast<unsigned>(ParseInt("--threads", v, 1, 256));
    } else if (a.Value("--codepage", v)) {
        collect.codePage = ParseInt("--codepage", v, 0, 65535);
        if (!IsSupportedCodePage(collect.codePage))
            throw UsageError("--codepage " + v + " is not supported (" + SupportedCodePages() + ")");
    } else {
        return false;
    }
    return true;
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: no file time
// after it.
void ReadSourceDateEpoch(CollectOptions& collect)
{
    const char* v = std::getenv("SOURCE_DATE_EPOCH");
    if (!v || !*v)
        return;
    char* end = nullptr;
    long long t = std::strtoll(v, &end, 10);
    if (*end != '\0' || t < 0)
        throw ToolError(std::string("SOURCE_DATE_EPOCH must be seconds since 1970, not \"") + v + "\"");
    collect.latestTime = t;
}

// Whether an option is among the arguments before "--".
bool HasFlag(int argc, char** argv, const char* flag)
{
    for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (!std::strcmp(argv[i], flag))
            return true;
    return false;
}

bool WantsHelp(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h"))
            return true;
    return false;
}
