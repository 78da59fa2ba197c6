#include "package/VersionInfo.h"

#include "package/LittleEndian.h"

namespace {

// One block: u16 length, u16 value length (in characters for text), u16
// type (1: text), its key in UTF-16 with a zero, the value and the
// children, each starting on a multiple of 4 from the resource's start.
struct Block {
    std::size_t at = 0, end = 0;     // the block itself
    std::size_t value = 0, valueEnd = 0;
    std::size_t children = 0;        // the first child

    bool Read(const unsigned char* info, std::size_t from, std::size_t limit)
    {
        if (from + 6 > limit)
            return false;
        at = from;
        const std::size_t length = GetU16(info + at);
        const std::size_t valueLength = GetU16(info + at + 2) * (GetU16(info + at + 4) == 1 ? 2u : 1u);
        if (length < 6 || length > limit - at)
            return false;
        end = at + length;
        std::size_t key = at + 6;
        while (key + 2 <= end && GetU16(info + key) != 0)
            key += 2;
        if (key + 2 > end)
            return false;
        value = Aligned(key + 2);
        valueEnd = value + valueLength;
        if (value > end || valueEnd > end)
            return false;
        children = Aligned(valueEnd);
        return true;
    }
    bool KeyIs(const unsigned char* info, const char* name) const
    {
        std::size_t i = at + 6;
        for (; *name; ++name, i += 2)
            if (GetU16(info + i) != static_cast<unsigned char>(*name))
                return false;
        return GetU16(info + i) == 0;
    }
    static std::size_t Aligned(std::size_t n) { return (n + 3) & ~std::size_t(3); }
};

// The child of parent named name, or false.
bool FindChild(const unsigned char* info, const Block& parent, const char* name, Block& child)
{
    for (std::size_t at = parent.children; child.Read(info, at, parent.end); at = Block::Aligned(child.end))
        if (!name || child.KeyIs(info, name))
            return true;
    return false;
}

} // namespace

WString VersionText(const unsigned char* info, std::size_t size, const char* key)
{
    Block root, strings, table, entry;
    if (!root.Read(info, 0, size) || !FindChild(info, root, "StringFileInfo", strings) ||
        !FindChild(info, strings, nullptr, table) || !FindChild(info, table, key, entry))
        return WString();
    WString text;
    for (std::size_t i = entry.value; i + 2 <= entry.valueEnd && GetU16(info + i) != 0; i += 2)
        text += static_cast<WideChar>(GetU16(info + i));
    return text;
}
