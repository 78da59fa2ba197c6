// Program entry of the setup stub.
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "loader/Loader.h"
#include "services/SetupError.h"

namespace {

std::string OwnExecutablePath()
{
    char buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n < MAX_PATH ? n : 0);
}

void ShowInternalError(const std::string& message)
{
    // The last resort: no owner, no caption, the windows are already gone.
    std::string text = "Internal Error: " + message + ".\r\n\r\nSetup will be terminated.";
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::vector<std::string> args;
    for (int i = 0; i < __argc; ++i)
        args.push_back(__argv[i]);
    try {
        RunSetup(OwnExecutablePath(), args);
    } catch (const SetupError& e) {
        ShowInternalError(e.Message());
    } catch (const std::bad_alloc&) {
        ShowInternalError("Out of memory");
    }
    return 0;
}
