#include "package/TextLists.h"

bool TakeCompleteShortcut(String& list, ShortcutRecord& record)
{
    std::size_t bar = list.find('|');
    std::size_t cr = bar == String::npos ? bar : list.find('\r', bar + 1);
    if (cr == String::npos)
        return false;
    record.target = list.substr(0, bar);
    record.name = list.substr(bar + 1, cr - bar - 1);
    list = list.substr(cr + 1);
    return true;
}

bool TakeShortcut(String& list, ShortcutRecord& record)
{
    if (TakeCompleteShortcut(list, record))
        return true;
    // With a "|" the target is already taken off; only the name stays unread.
    std::size_t bar = list.find('|');
    if (bar != String::npos)
        list = list.substr(bar + 1);
    return false;
}

bool TakeListEntry(String& list, String& entry)
{
    std::size_t cr = list.find('\r');
    if (cr == String::npos)
        return false;
    entry = list.substr(0, cr);
    list = list.substr(cr + 1);
    return true;
}
