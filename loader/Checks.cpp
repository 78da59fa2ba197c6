#include "loader/Checks.h"

#include "services/Text.h"

bool HasSwitch(const std::vector<std::string>& args, const std::string& name)
{
    for (std::size_t i = 1; i < args.size(); ++i)
        if (UpperAscii(args[i]) == name)
            return true;
    return false;
}

bool IsRelaunched(const std::vector<std::string>& args)
{
    return args.size() > 1 && args[1] == "/SECSUN";
}

std::string DamagedCopyText(const std::string& modeCaption, const std::string& ownPath)
{
    std::string name = modeCaption.empty() ? UpperAscii(FileNamePart(ownPath)) : modeCaption;
    return Format("This copy of %s is corrupted!\r\n\r\nPlease download a new copy of it and try again.", {name});
}
