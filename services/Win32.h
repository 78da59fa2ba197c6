// Owners for Win32 resources: each handle, window, GDI object, icon and COM
// pointer belongs to one of these and is released on every path, early
// returns included. Also the files the package reader and writer work through.
#pragma once
#include <windows.h>

#include <utility>

#include "package/ByteSource.h"
#include "package/String.h"
#include "services/SetupError.h"

// The one owner of a Win32 resource. Traits say what it holds, which value
// means none and how it is released.
template <class Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() = default;
    explicit Unique(Type h) : h_(h) {}
    ~Unique() { Reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : h_(other.Detach()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }

    Type Get() const { return h_; }
    bool Valid() const { return Traits::Valid(h_); }
    Type Detach() { return std::exchange(h_, Traits::None()); }
    // Releases what it holds and takes h. False when the release failed
    // (closing a written file can: the last of its data goes to disk then).
    bool Reset(Type h = Traits::None())
    {
        bool ok = !Valid() || Traits::Release(h_);
        h_ = h;
        return ok;
    }
    bool Close() { return Reset(); }
    // For an out-parameter that hands over a new resource.
    Type* Put()
    {
        Reset();
        return &h_;
    }

private:
    Type h_ = Traits::None();
};

// A kernel handle; both INVALID_HANDLE_VALUE and 0 mean "none".
struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static bool Release(HANDLE h) { return CloseHandle(h) != 0; }
};
using UniqueHandle = Unique<KernelHandleTraits>;

// A FindFirstFileW search, closed with FindClose rather than CloseHandle.
struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
    static bool Release(HANDLE h) { return FindClose(h) != 0; }
};
using UniqueFindHandle = Unique<FindHandleTraits>;

// Owners of the user interface's resources; 0 means none for each.
template <class T, BOOL(WINAPI* Free)(T)>
struct UserObjectTraits {
    using Type = T;
    static T None() { return nullptr; }
    static bool Valid(T h) { return h != nullptr; }
    static bool Release(T h) { return Free(h) != 0; }
};
using UniqueWindow = Unique<UserObjectTraits<HWND, DestroyWindow>>;
using UniqueGdiObject = Unique<UserObjectTraits<HGDIOBJ, DeleteObject>>;
// An icon made by CopyIcon (resource icons loaded shared need no owner).
using UniqueIcon = Unique<UserObjectTraits<HICON, DestroyIcon>>;

// A COM interface pointer, released when it goes.
template <class T>
struct ComTraits {
    using Type = T*;
    static T* None() { return nullptr; }
    static bool Valid(T* p) { return p != nullptr; }
    static bool Release(T* p)
    {
        p->Release();
        return true;
    }
};
template <class T>
class ComPtr : public Unique<ComTraits<T>> {
public:
    T* operator->() const { return this->Get(); }
    // For out-parameters of CoCreateInstance and QueryInterface.
    void** PutVoid() { return reinterpret_cast<void**>(this->Put()); }
};

// Reads and writes that never fail the run. ReadBytes reports the bytes read, fewer
// than asked only at the end of the file (GetLastError() is then
// ERROR_HANDLE_EOF) or on an error (0, and GetLastError() tells why).
DWORD ReadBytes(HANDLE file, void* buffer, DWORD count);
// Every byte or false, with GetLastError() telling why; a write that the
// system takes short without an error counts as a full disk.
bool WriteAll(HANDLE file, const void* buffer, DWORD count);
bool SeekTo(HANDLE file, DWORD offset);

// A file that the package reader reads or the package writer writes
// through its handle. Each keeps the system's error of the read or write
// that failed (0: none did; a read that meets the end of the file is no
// failure).
class FileSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    uint64_t Size() const;
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const;
    DWORD Error() const { return error_; }

private:
    HANDLE file_;
    mutable DWORD error_ = 0;
};

class FileSink {
public:
    explicit FileSink(HANDLE file) : file_(file) {}
    bool Write(const void* data, size_t count);
    bool WriteAt(uint64_t offset, const void* data, size_t count);
    DWORD Error() const { return error_; }

private:
    bool Failed();
    HANDLE file_;
    DWORD error_ = 0;
};

// "Cannot <verb> "<path>".", a line break, and the system's own words for
// the Win32 error (an HRESULT of the Win32 facility counts as its code), e.g.
// "There is not enough space on the disk", without the full stop and line
// break that FormatMessage ends them with: the entry's box puts one after the
// message. The one place that turns an error code into text.
WString FileErrorText(const char* verb, const WString& path, DWORD error);
// The error that ends the run when a file cannot be created, written, read
// or closed.
SetupError FileError(const char* verb, const WString& path, DWORD error);
