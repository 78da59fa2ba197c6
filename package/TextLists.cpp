#include "package/TextLists.h"

bool TakeCompleteShortcut(std::string& list, ShortcutRecord& record)
{
    std::string::size_type bar = list.find('|');
    std::string::size_type cr = bar == std::string::npos ? bar : list.find('\r', bar + 1);
    if (cr == std::string::npos)
        return false;
    record.target = list.substr(0, bar);
    record.name = list.substr(bar + 1, cr - bar - 1);
    list.erase(0, cr + 1);
    return true;
}

bool TakeShortcut(std::string& list, ShortcutRecord& record)
{
    if (TakeCompleteShortcut(list, record))
        return true;
    // With a "|" the target is already taken off; only the name stays unread.
    std::string::size_type bar = list.find('|');
    if (bar != std::string::npos)
        list.erase(0, bar + 1);
    return false;
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
