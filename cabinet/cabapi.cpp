#include "cabinet/cabapi.h"

#include <cstdlib>

std::string ErrorText(int code)
{
    static const char* const texts[] = {
        "No error",
        "Cabinet not found",
        "Cabinet file does not have the correct format",
        "Cabinet file has an unknown version number.",
        "Cabinet file is corrupt",
        "Could not allocate enough memory",
        "Unknown compression type in a cabinet folder",
        "Failure decompressing data from a cabinet file",
        "Failure writing to target file",
        "Cabinets in a set do not have the same RESERVE sizes",
        "Cabinet returned on fdintNEXT_CABINET is incorrect",
        "Client requested abort",
    };
    if (code < 0 || code >= static_cast<int>(sizeof texts / sizeof texts[0]))
        return std::string();
    return texts[code];
}

namespace cabapi {

// The kernel's HFILE functions take the handle as a 32-bit HFILE on both
// targets. On x86-64 a kernel handle is pointer-sized, but its value always
// fits in 32 bits (Windows keeps it so for 32-bit processes to share), and
// the HFILE functions widen it again with its sign, INVALID_HANDLE_VALUE too.
static HFILE AsHfile(INT_PTR file) { return static_cast<HFILE>(file); }

void* DIAMONDAPI Alloc(ULONG size) { return std::malloc(size); }

void DIAMONDAPI Free(void* block) { std::free(block); }

INT_PTR DIAMONDAPI Open(char* name, int, int)
{
    // Only cabinets are opened here: targets come from the copy-file
    // notification. The platform's flags and mode are therefore ignored.
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}

UINT DIAMONDAPI Read(INT_PTR file, void* buffer, UINT count)
{
    return _lread(AsHfile(file), buffer, count);
}

UINT DIAMONDAPI Write(INT_PTR file, void* buffer, UINT count)
{
    return _lwrite(AsHfile(file), static_cast<LPCCH>(buffer), count);
}

int DIAMONDAPI Close(INT_PTR file)
{
    return _lclose(AsHfile(file)) == HFILE_ERROR ? -1 : 0;
}

LONG DIAMONDAPI Seek(INT_PTR file, LONG distance, int origin)
{
    // Origins 0, 1, 2 are FILE_BEGIN, FILE_CURRENT, FILE_END for _llseek too.
    return _llseek(AsHfile(file), distance, origin);
}

int DIAMONDAPI Decrypt(PFDIDECRYPT) { return 0; }

} // namespace cabapi
