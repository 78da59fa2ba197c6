// libFuzzer target: the ShortcutList and InstalledFileList readers, whole
// and as the text arrives in pieces; both must agree and consume the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "package/PathRules.h"
#include "package/TextLists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    String whole(text, size), pieces, rest;
    ShortcutRecord record, streamed;
    size_t records = 0, streamedRecords = 0;
    while (TakeShortcut(whole, record)) {
        ++records;
        bool targetBroke;
        CheckShortcutRecord(record, targetBroke);
    }
    // Arriving a few bytes at a time, only complete records come out.
    for (size_t at = 0; at < size; at += 7) {
        pieces.Append(text + at, size - at < 7 ? size - at : 7);
        while (TakeCompleteShortcut(pieces, streamed))
            ++streamedRecords;
    }
    if (streamedRecords != records)
        std::abort();

    String list(text, size), entry;
    size_t entries = 0, length = 0;
    while (TakeListEntry(list, entry)) {
        ++entries;
        length += entry.size() + 1;
    }
    if (length + list.size() != size)
        std::abort();
    return 0;
}
