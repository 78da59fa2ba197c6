#include "loader/Copies.h"

#include <windows.h>

#include "cabinet/suncab.h"
#include "loader/CabNotify.h"
#include "package/ByteSource.h"
#include "package/TextLists.h"
#include "services/Services.h"
#include "services/Win32.h"

namespace {

constexpr DWORD kCopyPiece = 65536;

// Content, time and attributes (read-only, hidden, system and archive, as
// the extraction sets them) through the two handles: what failed, or
// nullptr.
const char* CopyContent(HANDLE from, HANDLE to, const WString& target, uint64_t& copied)
{
    PieceBuffer piece = NewPieceBuffer(kCopyPiece);
    DWORD got;
    do {
        if (!ReadFile(from, piece.get(), kCopyPiece, &got, nullptr))
            return "read";
        if (!WriteAll(to, piece.get(), got))
            return "write";
        copied += got;
    } while (got);
    BY_HANDLE_FILE_INFORMATION source;
    if (!GetFileInformationByHandle(from, &source) ||
        !SetFileTime(to, &source.ftLastWriteTime, nullptr, &source.ftLastWriteTime))
        return "set the time of";
    if ((source.dwFileAttributes & 0x27) != FILE_ATTRIBUTE_ARCHIVE)
        SetFileAttributesW(target.c_str(), source.dwFileAttributes & 0x27);
    return nullptr;
}

SetupError CopyInstalledFile(const WString& source, const WString& target, uint64_t& copied)
{
    UniqueHandle from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from.Valid())
        return FileError("open", source, GetLastError());
    // Never written through a link, as the extraction writes.
    DWORD error;
    UniqueHandle to = OpenToReplace(target, GENERIC_WRITE, error);
    if (!to.Valid())
        return FileError("create", target, error);
    const char* failed = CopyContent(from.Get(), to.Get(), target, copied);
    if (!failed && !to.Close())
        failed = "write";
    if (failed) {
        error = GetLastError();
        // What did not come out whole is not left looking installed.
        to.Close();
        DeleteFileW(target.c_str());
        return FileError(failed, target, error);
    }
    return SetupError();
}

} // namespace

SetupError InstallCopies(TUnCab& cab, TCabNotify& notify, const WString& copies)
{
    WString list = copies;
    WShortcutRecord copy; // target: the stored name, name: the copy's
    while (TakeCompleteShortcut(list, copy)) {
        WString source, target;
        const SYSTEMTIME unused = {};
        uint8_t action = 0;
        SetupError error = cab.TargetPath(copy.target, source);
        if (!error)
            error = cab.TargetPath(copy.name, target);
        if (!error)
            error = notify.NotifyFile(cab, target, 0, unused, action);
        if (!error)
            error = cab.MakeFolder(target, false);
        if (!error)
            error = CopyInstalledFile(source, target, notify.Bytes);
        if (error)
            return error;
    }
    return SetupError();
}
