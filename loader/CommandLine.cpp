#include "loader/CommandLine.h"

#include "services/Text.h"

void Arguments::Add(const WString& argument)
{
    packed_ += argument;
    packed_ += WideChar();
    ++count_;
}

const WideChar* Arguments::operator[](std::size_t index) const
{
    if (index >= count_)
        return WString::kEmpty;
    std::size_t at = 0;
    while (index--)
        at = packed_.find(WideChar(), at) + 1;
    return packed_.c_str() + at;
}

Arguments SplitCommandLine(const WideChar* line)
{
    Arguments args;
    const WideChar* p = line;
    WString word;
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
                    word += WideChar('\\');
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

namespace {

// The word, whose letters are upper case, against an ASCII switch.
bool IsSwitch(const WString& word, const char* name, bool prefix = false)
{
    std::size_t i = 0;
    for (; name[i]; ++i)
        if (i >= word.size() || word[i] != static_cast<WideChar>(name[i]))
            return false;
    return prefix || i == word.size();
}

} // namespace

Invocation ReadCommandLine(const Arguments& args)
{
    Invocation call;
    for (std::size_t i = 1; i < args.Count(); ++i) {
        const WString word = UpperAscii(WString(args[i]));
        call.NoConfirmation |= IsSwitch(word, "/SP-");
        call.NoLicense |= IsSwitch(word, "/LA-");
        call.Silent |= IsSwitch(word, "/SILENT");
        call.Quiet |= IsSwitch(word, "/QUIET");
        if (!call.Logged && IsSwitch(word, "/LOG=", true)) {
            call.Logged = true;
            call.LogPath = args[i] + 5;
            // The runtime takes the quotes away; an entry that leaves them
            // gets the same path.
            if (call.LogPath.size() >= 2 && call.LogPath[0] == '"' && call.LogPath.back() == '"')
                call.LogPath = call.LogPath.substr(1, call.LogPath.size() - 2);
        }
    }
    call.Relaunched = IsSwitch(args[1], "/SECSUN");
    if (args.Count() > 2)
        call.StartedUninstaller = args[2];
    return call;
}

WString DamagedCopyText(const char* modeCaption, const WString& ownPath)
{
    WString name = modeCaption ? WidenAscii(modeCaption) : UpperAscii(FileNamePart(ownPath));
    return WFormat("This copy of %s is corrupted!\r\n\r\nPlease download a new copy of it and try again.", {name});
}
