// The example product's program: a tiny viewer that shows the read-me next
// to it. It exists so the example installer carries a real Windows program,
// and it stays small by using nothing but the Win32 API.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char folder[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, folder, MAX_PATH);
    while (n > 0 && folder[n - 1] != '\\')
        --n;
    folder[n] = '\0';

    char text[4096];
    lstrcpynA(text, "Example Viewer is installed in\r\n", sizeof text);
    lstrcatA(text, folder);

    char readme[MAX_PATH + 16];
    lstrcpynA(readme, folder, MAX_PATH);
    lstrcatA(readme, "readme.txt");
    HANDLE file = CreateFileA(readme, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        lstrcatA(text, "\r\n\r\n");
        int used = lstrlenA(text);
        DWORD got = 0;
        if (ReadFile(file, text + used, static_cast<DWORD>(sizeof text - used - 1), &got, nullptr))
            text[used + got] = '\0';
        CloseHandle(file);
    }
    MessageBoxA(nullptr, text, "Example Viewer", MB_ICONINFORMATION);
    return 0;
}
