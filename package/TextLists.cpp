#include "package/TextLists.h"

template <class Char>
bool TakeCompleteShortcut(BasicString<Char>& list, BasicShortcutRecord<Char>& record)
{
    const std::size_t npos = BasicString<Char>::npos;
    std::size_t bar = list.find('|');
    std::size_t cr = bar == npos ? bar : list.find('\r', bar + 1);
    if (cr == npos)
        return false;
    record.target = list.substr(0, bar);
    record.name = list.substr(bar + 1, cr - bar - 1);
    list = list.substr(cr + 1);
    return true;
}

template <class Char>
bool TakeShortcut(BasicString<Char>& list, BasicShortcutRecord<Char>& record)
{
    if (TakeCompleteShortcut(list, record))
        return true;
    // With a "|" the target is already taken off; only the name stays unread.
    std::size_t bar = list.find('|');
    if (bar != BasicString<Char>::npos)
        list = list.substr(bar + 1);
    return false;
}

template <class Char>
bool TakeListEntry(BasicString<Char>& list, BasicString<Char>& entry)
{
    std::size_t cr = list.find('\r');
    if (cr == BasicString<Char>::npos)
        return false;
    entry = list.substr(0, cr);
    list = list.substr(cr + 1);
    return true;
}

#define CABSETUP_LISTS_FOR(Char)                                                                                       \
    template bool TakeCompleteShortcut(BasicString<Char>&, BasicShortcutRecord<Char>&);                                \
    template bool TakeShortcut(BasicString<Char>&, BasicShortcutRecord<Char>&);                                        \
    template bool TakeListEntry(BasicString<Char>&, BasicString<Char>&);
CABSETUP_LISTS_FOR(char)
CABSETUP_LISTS_FOR(WideChar)
#undef CABSETUP_LISTS_FOR
