#include "services/Win32.h"

DWORD ReadBytes(HANDLE file, void* buffer, DWORD count)
{
    DWORD done = 0;
    if (!ReadFile(file, buffer, count, &done, nullptr))
        return 0;
    return done;
}

DWORD WriteBytes(HANDLE file, const void* buffer, DWORD count)
{
    DWORD done = 0;
    if (!WriteFile(file, buffer, count, &done, nullptr))
        return 0;
    return done;
}

bool SeekTo(HANDLE file, DWORD offset)
{
    return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}
