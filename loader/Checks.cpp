#include "loader/Checks.h"

#include <cstring>

#include "services/Text.h"

void Arguments::Add(const String& argument)
{
    packed_ += argument;
    packed_ += '\0';
    ++count_;
}

const char* Arguments::operator[](std::size_t index) const
{
    if (index >= count_)
        return "";
    std::size_t at = 0;
    while (index--)
        at = packed_.find('\0', at) + 1;
    return packed_.c_str() + at;
}

Arguments SplitCommandLine(const char* line)
{
    Arguments args;
    const char* p = line;
    String word;
    if (*p == '"') {
        for (++p; *p && *p != '"'; ++p)
            word += *p;
        if (*p)
            ++p;
    } else {
        for (; *p && *p != ' ' && *p != '\t'; ++p)
            word += *p;
    }
    args.Add(word);
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p)
            return args;
        word.clear();
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '\\') {
                std::size_t backslashes = 0;
                for (; *p == '\\'; ++p)
                    ++backslashes;
                // An even run leaves its quote to the next round.
                for (std::size_t n = *p == '"' ? backslashes / 2 : backslashes; n; --n)
                    word += '\\';
                if (*p == '"' && backslashes % 2)
                    word += *p++;
            } else if (*p == '"') {
                if (quoted && p[1] == '"')
                    word += *++p;
                else
                    quoted = !quoted;
                ++p;
            } else {
                word += *p++;
            }
        }
        args.Add(word);
    }
}

Invocation ReadCommandLine(const String& ownPath, const Arguments& args)
{
    Invocation call;
    call.OwnPath = ownPath;
    for (std::size_t i = 1; i < args.Count(); ++i) {
        const String word = UpperAscii(args[i]);
        call.NoConfirmation |= word == "/SP-";
        call.NoLicense |= word == "/LA-";
        call.Silent |= word == "/SILENT";
        if (!call.Logged && word.StartsWith("/LOG=")) {
            call.Logged = true;
            call.LogPath = args[i] + 5;
            // The runtime takes the quotes away; an entry that leaves them
            // gets the same path.
            if (call.LogPath.size() >= 2 && call.LogPath[0] == '"' && call.LogPath.back() == '"')
                call.LogPath = call.LogPath.substr(1, call.LogPath.size() - 2);
        }
    }
    call.Relaunched = std::strcmp(args[1], "/SECSUN") == 0;
    if (args.Count() > 2)
        call.StartedUninstaller = args[2];
    return call;
}

String DamagedCopyText(const String& modeCaption, const String& ownPath)
{
    String name = modeCaption.empty() ? UpperAscii(FileNamePart(ownPath)) : modeCaption;
    return Format("This copy of %s is corrupted!\r\n\r\nPlease download a new copy of it and try again.", {name});
}
