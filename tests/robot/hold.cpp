// hold.exe FILE HELD-MARKER RELEASE-FILE [SECONDS]
//
// Opens FILE with no sharing at all, so every other open of it fails as it
// does for a file in use, and writes HELD-MARKER once it holds it. Lets go when
// RELEASE-FILE appears or after SECONDS (default 60). Exit code 0 after a
// release, 1 after the time ran out, 2 when FILE could not be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "services/Win32.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fputs("usage: hold.exe FILE HELD-MARKER RELEASE-FILE [SECONDS]\n", stderr);
        return 2;
    }
    DWORD seconds = argc > 4 ? static_cast<DWORD>(_wtoi(argv[4])) : 60;
    UniqueHandle file(CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid()) {
        std::fprintf(stderr, "hold: cannot open the file (error %lu)\n", GetLastError());
        return 2;
    }
    UniqueHandle(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    int rc = 1;
    for (DWORD start = GetTickCount(); GetTickCount() - start < seconds * 1000;) {
        if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            rc = 0;
            break;
        }
        Sleep(20);
    }
    return rc;
}
