#include "services/Log.h"

#include "package/PathRules.h"
#include "services/Services.h"
#include "services/Text.h"
#include "services/Win32.h"

namespace {

// The one log of this process, from OpenLog to the process's end.
UniqueHandle logFile;

void WriteLine(const char* what, const WString& text)
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
    const String bytes = EncodeUtf8(text);
    bool lineBreak = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool isBreak = bytes[i] == '\r' || bytes[i] == '\n';
        if (!isBreak)
            line += bytes[i];
        else if (!lineBreak)
            line += ' ';
        lineBreak = isBreak;
    }
    line += "\r\n";
    // A line that cannot be written is lost; the run goes on.
    WriteAll(logFile.Get(), line.data(), static_cast<DWORD>(line.size()));
}

// "X:\" and no ":" after it: a path on a local drive, whatever the current
// folder, and no stream.
bool IsFullLocalPath(const WString& path)
{
    const WideChar drive = static_cast<WideChar>(path.size() > 2 ? path[0] | 0x20 : 0);
    return drive >= 'a' && drive <= 'z' && path[1] == ':' && path[2] == '\\' &&
           path.substr(2).find(':') == WString::npos;
}

} // namespace

bool OpenLog(const WString& path, DWORD& error)
{
    // An empty path names no folder.
    error = path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME;
    if (!IsFullLocalPath(path) || IsDeviceName(FileNamePart(path)))
        return false;
    // The link itself is opened, never what it points at, and then refused.
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        error = GetLastError();
        return false;
    }
    // A pipe or a device reached some other way is no log file, nor is a link.
    if ((error = PlainFileError(file.Get())) != 0)
        return false;
    logFile = std::move(file);
    return true;
}

void Log(const char* what, const WString& text) { WriteLine(what, text); }

void Log(const char* what) { WriteLine(what, WString()); }
