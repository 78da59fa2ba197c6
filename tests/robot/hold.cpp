// hold.exe [--image] [--after-gone PATH MS] FILE HELD-MARKER RELEASE-FILE [SECONDS]
//
// Opens FILE with no sharing at all, so every other open of it fails as it
// does for a file in use, and writes HELD-MARKER once it holds it. Lets go when
// RELEASE-FILE appears or after SECONDS (default 60). Exit code 0 after a
// release, 1 after the time ran out, 2 when FILE could not be opened.
//
// --image maps FILE as a program image instead, as the loader keeps the file
// of a running program: it may be opened, but not written or deleted.
// --after-gone PATH MS also lets go MS milliseconds after PATH is gone, so a
// test can hold a file exactly past the moment a program reaches for it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "services/Win32.h"

namespace {

struct ViewTraits {
    using Type = void*;
    static Type None() { return nullptr; }
    static bool Valid(Type view) { return view != nullptr; }
    static bool Release(Type view) { return UnmapViewOfFile(view) != 0; }
};

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool image = false;
    const wchar_t* gone = nullptr;
    DWORD afterGoneMs = 0;
    int at = 1;
    for (; at < argc && argv[at][0] == L'-'; ++at) {
        if (std::wcscmp(argv[at], L"--image") == 0) {
            image = true;
        } else if (std::wcscmp(argv[at], L"--after-gone") == 0 && at + 2 < argc) {
            gone = argv[++at];
            afterGoneMs = static_cast<DWORD>(_wtoi(argv[++at]));
        } else {
            break;
        }
    }
    if (argc - at < 3) {
        std::fputs("usage: hold.exe [--image] [--after-gone PATH MS] FILE HELD-MARKER RELEASE-FILE [SECONDS]\n",
                   stderr);
        return 2;
    }
    const wchar_t* path = argv[at];
    const wchar_t* heldMarker = argv[at + 1];
    const wchar_t* release = argv[at + 2];
    DWORD seconds = argc - at > 3 ? static_cast<DWORD>(_wtoi(argv[at + 3])) : 60;

    UniqueHandle file, section;
    Unique<ViewTraits> view;
    if (image) {
        file = UniqueHandle(CreateFileW(path, GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        if (file.Valid())
            section = UniqueHandle(CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
        if (section.Valid())
            view = Unique<ViewTraits>(MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, 0));
        // The loader keeps no handle to the file itself, only the section.
        file.Close();
        if (!view.Valid()) {
            std::fprintf(stderr, "hold: cannot map the file as an image (error %lu)\n", GetLastError());
            return 2;
        }
    } else {
        file = UniqueHandle(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.Valid()) {
            std::fprintf(stderr, "hold: cannot open the file (error %lu)\n", GetLastError());
            return 2;
        }
    }
    // The marker's folder is the caller's new one: never reuse what is there.
    UniqueHandle(CreateFileW(heldMarker, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    DWORD goneAt = 0;
    bool sawGone = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < seconds * 1000;) {
        if (Exists(release))
            return 0;
        if (gone && !sawGone && !Exists(gone)) {
            sawGone = true;
            goneAt = GetTickCount();
        }
        if (sawGone && GetTickCount() - goneAt >= afterGoneMs)
            return 0;
        Sleep(20);
    }
    return 1;
}
