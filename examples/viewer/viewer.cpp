// The example product's program: a tiny viewer that shows the read-me next
// to it. It exists so the example installer carries a real Windows program.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder = folder.substr(0, folder.find_last_of('\\') + 1);

    std::string text = "Example Viewer is installed in\r\n" + folder;
    HANDLE file = CreateFileA((folder + "readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char buffer[2048];
        DWORD got = 0;
        if (ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr) && got) {
            text += "\r\n\r\n";
            text.append(buffer, got);
        }
        CloseHandle(file);
    }
    MessageBoxA(nullptr, text.c_str(), "Example Viewer", MB_ICONINFORMATION);
    return 0;
}
