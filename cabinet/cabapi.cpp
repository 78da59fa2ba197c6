#include "cabinet/cabapi.h"

#include <cstdlib>
#include <utility>

#include "services/Win32.h"

#include "services/Services.h"
#include "services/Text.h"

const char* ErrorText(int code)
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
        return "";
    return texts[code];
}

const CabinetLibrary& Cabinet()
{
    static CabinetLibrary library;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        if (HMODULE module = LoadSystemLibrary(L"cabinet.dll")) {
            auto get = [module](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
            library.Create = reinterpret_cast<decltype(library.Create)>(get("FDICreate"));
            library.Copy = reinterpret_cast<decltype(library.Copy)>(get("FDICopy"));
            library.Destroy = reinterpret_cast<decltype(library.Destroy)>(get("FDIDestroy"));
            if (!library.Copy || !library.Destroy)
                library.Create = nullptr;
        }
    }
    return library;
}

namespace cabapi {

// The kernel's HFILE functions take the handle as a 32-bit HFILE on both
// targets. On x86-64 a kernel handle is pointer-sized, but its value always
// fits in 32 bits (Windows keeps it so for 32-bit processes to share), and
// the HFILE functions widen it again with its sign, INVALID_HANDLE_VALUE too.
static HFILE AsHfile(INT_PTR file) { return static_cast<HFILE>(file); }

static DWORD writeError;

DWORD TakeWriteError() { return std::exchange(writeError, 0); }

void* DIAMONDAPI Alloc(ULONG size) { return std::malloc(size); }

void DIAMONDAPI Free(void* block) { std::free(block); }

INT_PTR DIAMONDAPI Open(char* name, int, int)
{
    // Only cabinets are opened here: targets come from the copy-file
    // notification. The platform's flags and mode are therefore ignored.
    // The installer keeps holding its temporary cabinet (writing, deleting
    // when closed) while it is read, and lets nobody else in: this read has
    // to share all three.
    // The name is the one the extractor gave the platform, in UTF-8.
    HANDLE h = CreateFileW(DecodeUtf8(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}

UINT DIAMONDAPI Read(INT_PTR file, void* buffer, UINT count)
{
    return _lread(AsHfile(file), buffer, count);
}

UINT DIAMONDAPI Write(INT_PTR file, void* buffer, UINT count)
{
    if (writeError)
        return static_cast<UINT>(-1);
    if (!WriteAll(reinterpret_cast<HANDLE>(file), buffer, count)) {
        writeError = GetLastError();
        return static_cast<UINT>(-1);
    }
    return count;
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
