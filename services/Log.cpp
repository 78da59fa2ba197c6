#include "services/Log.h"

#include "package/PathRules.h"
#include "services/Text.h"
#include "services/Win32.h"

namespace {

// The one log of this process, from OpenLog to the process's end.
UniqueHandle logFile;

void WriteLine(const char* what, const char* text, std::size_t size)
{
    if (!logFile.Valid())
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    wsprintfA(stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%lu] ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId());
    String line = stamp;
    line += what;
    bool lineBreak = false;
    for (std::size_t i = 0; i < size; ++i) {
        const bool isBreak = text[i] == '\r' || text[i] == '\n';
        if (!isBreak)
            line += text[i];
        else if (!lineBreak)
            line += ' ';
        lineBreak = isBreak;
    }
    line += "\r\n";
    // A line that cannot be written is lost; the run goes on.
    WriteAll(logFile.Get(), line.data(), static_cast<DWORD>(line.size()));
}

} // namespace

bool OpenLog(const String& path, DWORD& error)
{
    error = ERROR_INVALID_NAME;
    // "\\.\" and "\\?\" reach devices and raw volumes; CON, NUL, COM1 and
    // the like are devices in every folder.
    if (path.StartsWith("\\\\.\\") || path.StartsWith("\\\\?\\") || IsDeviceName(FileNamePart(path)))
        return false;
    UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        error = GetLastError();
        return false;
    }
    // A pipe or a device reached some other way is no log file.
    if (GetFileType(file.Get()) != FILE_TYPE_DISK)
        return false;
    logFile = std::move(file);
    return true;
}

void Log(const char* what, const String& text) { WriteLine(what, text.c_str(), text.size()); }

void Log(const char* what) { WriteLine(what, "", 0); }
