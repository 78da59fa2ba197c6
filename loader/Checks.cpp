#include "loader/Checks.h"

#include "services/Text.h"

Invocation ReadCommandLine(const std::string& ownPath, const std::vector<std::string>& args)
{
    Invocation call;
    call.OwnPath = ownPath;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string word = UpperAscii(args[i]);
        call.NoConfirmation |= word == "/SP-";
        call.NoLicense |= word == "/LA-";
        call.Silent |= word == "/SILENT";
        if (!call.Logged && word.compare(0, 5, "/LOG=") == 0) {
            call.Logged = true;
            call.LogPath = args[i].substr(5);
            // The runtime takes the quotes away; an entry that leaves them
            // gets the same path.
            if (call.LogPath.size() >= 2 && call.LogPath.front() == '"' && call.LogPath.back() == '"')
                call.LogPath = call.LogPath.substr(1, call.LogPath.size() - 2);
        }
    }
    call.Relaunched = args.size() > 1 && args[1] == "/SECSUN";
    if (args.size() > 2)
        call.StartedUninstaller = args[2];
    return call;
}

std::string DamagedCopyText(const std::string& modeCaption, const std::string& ownPath)
{
    std::string name = modeCaption.empty() ? UpperAscii(FileNamePart(ownPath)) : modeCaption;
    return Format("This copy of %s is corrupted!\r\n\r\nPlease download a new copy of it and try again.", {name});
}
