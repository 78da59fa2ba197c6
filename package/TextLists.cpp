#include "package/TextLists.h"

bool TakeShortcut(std::string& list, ShortcutRecord& record)
{
    std::string::size_type bar = list.find('|');
    if (bar == std::string::npos)
        return false;
    std::string::size_type cr = list.find('\r', bar + 1);
    if (cr == std::string::npos) {
        // The target is already taken off by then; only the name stays unread.
        list.erase(0, bar + 1);
        return false;
    }
    record.target = list.substr(0, bar);
    record.name = list.substr(bar + 1, cr - bar - 1);
    list.erase(0, cr + 1);
    return true;
}

bool TakeListEntry(std::string& list, std::string& entry)
{
    std::string::size_type cr = list.find('\r');
    if (cr == std::string::npos)
        return false;
    entry = list.substr(0, cr);
    list.erase(0, cr + 1);
    return true;
}
