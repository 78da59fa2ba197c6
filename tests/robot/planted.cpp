// planted.dll: a DLL that a test puts where an attacker would, under the name
// of a DLL the program under test uses (cabinet.dll, comctl32.dll). Loading
// it appends its own path and the loading program's path to C:\planted.log;
// it offers nothing else, so a program that came to depend on it fails.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char line[2 * MAX_PATH + 4] = {};
    DWORD n = GetModuleFileNameA(self, line, MAX_PATH);
    line[n++] = ' ';
    n += GetModuleFileNameA(nullptr, line + n, MAX_PATH);
    line[n++] = '\r';
    line[n++] = '\n';
    HANDLE log = CreateFileA("C:\\planted.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(log, line, n, &written, nullptr);
        CloseHandle(log);
    }
    return TRUE;
}
