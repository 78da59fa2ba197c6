#include "services/Win32.h"

#include "services/SetupError.h"
#include "services/Text.h"

DWORD ReadBytes(HANDLE file, void* buffer, DWORD count)
{
    DWORD done = 0;
    if (!ReadFile(file, buffer, count, &done, nullptr))
        return 0;
    if (done < count)
        SetLastError(ERROR_HANDLE_EOF);
    return done;
}

bool WriteAll(HANDLE file, const void* buffer, DWORD count)
{
    const char* next = static_cast<const char*>(buffer);
    while (count) {
        DWORD done = 0;
        if (!WriteFile(file, next, count, &done, nullptr))
            return false;
        // A short write without an error: the next try tells why, and one
        // that takes nothing at all means the disk is full.
        if (done == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        next += done;
        count -= done;
    }
    return true;
}

bool SeekTo(HANDLE file, DWORD offset)
{
    return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

uint64_t FileSource::Size() const
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

size_t FileSource::ReadAt(uint64_t offset, void* buffer, size_t count) const
{
    // Packages end below 4 GB: nothing is read beyond.
    error_ = 0;
    if (offset > 0xFFFFFFFFu)
        return 0;
    if (!SeekTo(file_, static_cast<DWORD>(offset))) {
        error_ = GetLastError();
        return 0;
    }
    DWORD got = ReadBytes(file_, buffer, static_cast<DWORD>(count));
    error_ = got < count && GetLastError() != ERROR_HANDLE_EOF ? GetLastError() : 0;
    return got;
}

bool FileSink::Failed()
{
    error_ = GetLastError();
    return false;
}

bool FileSink::Write(const void* data, size_t count)
{
    return WriteAll(file_, data, static_cast<DWORD>(count)) || Failed();
}

bool FileSink::WriteAt(uint64_t offset, const void* data, size_t count)
{
    // Back to the end afterwards: what is written next is appended.
    return (offset <= 0xFFFFFFFFu && SeekTo(file_, static_cast<DWORD>(offset)) &&
            WriteAll(file_, data, static_cast<DWORD>(count)) &&
            SetFilePointer(file_, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) ||
           Failed();
}

WString FileErrorText(const char* verb, const WString& path, DWORD error)
{
    if ((error >> 16) == 0x8007) // HRESULT_FROM_WIN32
        error &= 0xFFFF;
    wchar_t reason[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                             512, nullptr);
    while (n && (reason[n - 1] <= ' ' || reason[n - 1] == '.'))
        --n;
    reason[n] = 0;
    return n ? WFormat("Cannot %s \"%s\".\r\n%s", {verb, path, reason})
             : WFormat("Cannot %s \"%s\" (error %d)", {verb, path, error});
}

SetupError FileError(const char* verb, const WString& path, DWORD error)
{
    return SetupError(FileErrorText(verb, path, error));
}
