#include "loader/Checks.h"

#include "services/Text.h"

std::vector<String> SplitCommandLine(const char* line)
{
    std::vector<String> args;
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
    args.push_back(word);
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
        args.push_back(word);
    }
}

Invocation ReadCommandLine(const String& ownPath, const std::vector<String>& args)
{
    Invocation call;
    call.OwnPath = ownPath;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const String word = UpperAscii(args[i]);
        call.NoConfirmation |= word == "/SP-";
        call.NoLicense |= word == "/LA-";
        call.Silent |= word == "/SILENT";
        if (!call.Logged && word.StartsWith("/LOG=")) {
            call.Logged = true;
            call.LogPath = args[i].substr(5);
            // The runtime takes the quotes away; an entry that leaves them
            // gets the same path.
            if (call.LogPath.size() >= 2 && call.LogPath[0] == '"' && call.LogPath.back() == '"')
                call.LogPath = call.LogPath.substr(1, call.LogPath.size() - 2);
        }
    }
    call.Relaunched = args.size() > 1 && args[1] == "/SECSUN";
    if (args.size() > 2)
        call.StartedUninstaller = args[2];
    return call;
}

String DamagedCopyText(const String& modeCaption, const String& ownPath)
{
    String name = modeCaption.empty() ? UpperAscii(FileNamePart(ownPath)) : modeCaption;
    return Format("This copy of %s is corrupted!\r\n\r\nPlease download a new copy of it and try again.", {name});
}
