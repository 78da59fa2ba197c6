// Owners for Win32 resources: each handle, COM pointer and buffer belongs to
// one of these and is released on every path, exceptions included.
#pragma once
#include <windows.h>

#include <string>
#include <utility>

// A kernel handle; both INVALID_HANDLE_VALUE and 0 mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.Detach()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            h_ = other.Detach();
        }
        return *this;
    }

    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Detach() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    bool Close()
    {
        bool ok = true;
        if (Valid())
            ok = CloseHandle(h_) != 0;
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A FindFirstFileA search, closed with FindClose rather than CloseHandle.
class UniqueFindHandle {
public:
    explicit UniqueFindHandle(HANDLE h) : h_(h) {}
    ~UniqueFindHandle()
    {
        if (Valid())
            FindClose(h_);
    }
    UniqueFindHandle(const UniqueFindHandle&) = delete;
    UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// A COM interface pointer, released when it goes.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    // For out-parameters of CoCreateInstance and QueryInterface.
    void** PutVoid()
    {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    void Reset()
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Reads and writes that never raise. ReadBytes reports the bytes read, fewer
// than asked only at the end of the file (GetLastError() is then
// ERROR_HANDLE_EOF) or on an error (0, and GetLastError() tells why).
DWORD ReadBytes(HANDLE file, void* buffer, DWORD count);
// Every byte or false, with GetLastError() telling why; a write that the
// system takes short without an error counts as a full disk.
bool WriteAll(HANDLE file, const void* buffer, DWORD count);
bool SeekTo(HANDLE file, DWORD offset);

// "Cannot <verb> "<path>".", a line break, and the system's own words for
// the Win32 error (an HRESULT of the Win32 facility counts as its code), e.g.
// "There is not enough space on the disk", without the full stop and line
// break that FormatMessage ends them with: the entry's box puts one after the
// message. The one place that turns an error code into text.
std::string FileErrorText(const char* verb, const std::string& path, DWORD error);
// Ends the run when a file cannot be created, written, read or closed.
[[noreturn]] void RaiseFileError(const char* verb, const std::string& path, DWORD error);
