#include "services/Services.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "services/SetupError.h"
#include "services/Text.h"

namespace {

constexpr DWORD kCopyPiece = 16384;

// Balances a successful CoInitialize, on every way out.
class ComApartment {
public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

} // namespace

namespace {

// SetFileInformationByHandle, which systems before Vista lack.
using SetInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
SetInformation SetFileInformation()
{
    return reinterpret_cast<SetInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle")));
}

// FILE_RENAME_INFO with room for a path.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength; // bytes, without the terminator
    WCHAR fileName[MAX_PATH];
};

// One search for all three: a new file when file is set, a new name for the
// open file `renamed` when that is set, else a new folder. What was made is
// in file, or in created.
SetupError CreateTempEntry(const WString& folder, const WString& extension, UniqueHandle* file,
                           HANDLE renamed, DWORD flags, bool& created, WString& name)
{
    created = false;
    return SearchTempName(folder, extension, TempSearchStart(), [&](const WString& candidate) {
        // CREATE_NEW (and a rename that replaces nothing) neither opens,
        // truncates nor follows what is there.
        if (file) {
            *file = UniqueHandle(CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
            created = file->Valid();
        } else if (renamed) {
            RenameInformation info = {};
            const std::size_t n = candidate.size();
            if (n < MAX_PATH)
                std::memcpy(info.fileName, candidate.c_str(), n * sizeof(WCHAR));
            info.fileNameLength = static_cast<DWORD>(n * sizeof(WCHAR));
            const int kFileRenameInfo = 3;
            SetInformation set = SetFileInformation();
            created = n < MAX_PATH && set && set(renamed, kFileRenameInfo, &info, sizeof info);
        } else {
            created = CreateDirectoryW(candidate.c_str(), nullptr) != 0;
        }
        DWORD error = GetLastError();
        return created ? TempTry::Created
                       : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? TempTry::Taken : TempTry::Failed;
    }, name);
}

} // namespace

SetupError UniqueTempName(const WString& folder, const WString& extension, UniqueHandle& file,
                          WString& name, DWORD flags)
{
    bool created;
    return CreateTempEntry(folder, extension, &file, nullptr, flags, created, name);
}

SetupError UniqueTempFolder(const WString& folder, WString& path, bool& created)
{
    return CreateTempEntry(folder, WString(), nullptr, nullptr, 0, created, path);
}

bool SameContent(HANDLE file, HANDLE other)
{
    LARGE_INTEGER size, otherSize;
    if (!GetFileSizeEx(file, &size) || !GetFileSizeEx(other, &otherSize) || size.QuadPart != otherSize.QuadPart ||
        !SeekTo(file, 0) || !SeekTo(other, 0))
        return false;
    PieceBuffer mine = NewPieceBuffer(kCopyPiece), theirs = NewPieceBuffer(kCopyPiece);
    for (LONGLONG left = size.QuadPart; left > 0;) {
        DWORD want = left < kCopyPiece ? static_cast<DWORD>(left) : kCopyPiece;
        if (ReadBytes(file, mine.get(), want) != want || ReadBytes(other, theirs.get(), want) != want ||
            std::memcmp(mine.get(), theirs.get(), want) != 0)
            return false;
        left -= want;
    }
    return true;
}

bool DeleteOpenFile(HANDLE file)
{
    BOOLEAN deleteFile = TRUE;
    const int kFileDispositionInfo = 4;
    SetInformation set = SetFileInformation();
    return set && set(file, kFileDispositionInfo, &deleteFile, sizeof deleteFile);
}

bool StartCheckedCopy(UniqueHandle& written, WString& path, const WString& parameters, HANDLE reference,
                      HANDLE output)
{
    // The loader maps no file that anybody may write, so the writing handle
    // must go, and that leaves a moment in which all handles let others
    // write: no share mode can close it. A reading handle takes over first,
    // then one that lets others only read; what somebody changes in between
    // is found below.
    UniqueHandle bridge(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    written.Close();
    // The copy inherits this handle and reads its package through it: the
    // bytes compared below are the bytes it reads, whatever its name holds by
    // then.
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    UniqueHandle kept(CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0,
                                  nullptr));
    bridge.Close();
    if (!kept.Valid())
        return false; // somebody holds it open for writing

    // The name it starts under is a new one that it gets while held: under
    // that name nobody can ever write, replace or delete it. Without the
    // means to rename (before Vista) it starts under the first.
    if (SetFileInformation()) {
        bool renamed;
        WString name;
        // Every name taken counts as a name that cannot be had.
        if (CreateTempEntry(FolderOf(path), L".exe", nullptr, kept.Get(), 0, renamed, name) || !renamed)
            return false;
        path = name;
    }

    WString commandLine = WFormat("\"%s\" %s", {path, parameters});
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = kept.Get();
    startup.hStdOutput = output;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started))
        return false;
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    // Its image is mapped now and the file can no longer be written,
    // replaced or deleted: what it holds is what would run, and what the
    // copy's handle reads.
    const bool same = SameContent(kept.Get(), reference);
    kept.Close();
    if (same && ResumeThread(thread.Get()) != static_cast<DWORD>(-1))
        return true;
    TerminateProcess(process.Get(), 1);
    // Until it is gone its image keeps the file from being deleted.
    WaitForSingleObject(process.Get(), 5000);
    return false;
}

DWORD PlainFileError(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK)
        return ERROR_INVALID_NAME;
    return GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   info.nNumberOfLinks == 1
               ? 0
               : ERROR_ACCESS_DENIED;
}

UniqueHandle OpenToReplace(const WString& path, DWORD access, DWORD& error)
{
    UniqueHandle file(CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    error = GetLastError();
    if (!file.Valid() || error != ERROR_ALREADY_EXISTS) {
        error = file.Valid() ? 0 : error;
        return file;
    }
    // Checked first, emptied after: a second name of some other file must
    // not lose that file's bytes.
    error = PlainFileError(file.Get());
    if (!error) {
        const int kFileEndOfFileInfo = 6;
        LARGE_INTEGER end = {};
        SetInformation set = SetFileInformation();
        if (set) {
            error = set(file.Get(), kFileEndOfFileInfo, &end, sizeof end) ? 0 : GetLastError();
        } else { // before Vista: emptied through its name, checked a moment ago
            file.Close();
            file.Reset(CreateFileW(path.c_str(), access, 0, nullptr, TRUNCATE_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
            error = file.Valid() ? 0 : GetLastError();
        }
    }
    if (error)
        file.Close();
    return file;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const DWORD kSearchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (HMODULE module = LoadLibraryExW(name, nullptr, kSearchSystem32))
        return module;
    // Systems without the search flags refuse them; a full path works
    // everywhere.
    const int kNameRoom = 16; // "\\" and a short DLL name such as "comctl32.dll"
    wchar_t path[MAX_PATH + kNameRoom];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    path[n] = '\\';
    lstrcpynW(path + n + 1, name, kNameRoom - 1);
    return LoadLibraryExW(path, nullptr, 0); // as LoadLibraryW, without its import
}

WString WindowsFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
    return WString(buffer, n < MAX_PATH ? n : 0);
}

WString TempFolder()
{
    WString temp = WithBackslash(WindowsFolder()) + L"Temp";
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetFullPathNameW(temp.c_str(), MAX_PATH, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return temp;
    return WString(buffer, n);
}

UniqueHandle LaunchProgram(const WString& file, const WString& parameters, int waitMs)
{
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpFile = file.c_str();
    request.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    request.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&request))
        return UniqueHandle();
    UniqueHandle process(request.hProcess);
    if (waitMs > 0 && process.Valid())
        WaitForInputIdle(process.Get(), static_cast<DWORD>(waitMs));
    return process;
}

namespace {

// The shell link's class and interfaces, spelled out here: taking them from
// libuuid would link its whole table of GUIDs, some 40 KB, into the stub.
const CLSID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kShellLinkW = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

} // namespace

HRESULT CreateShellLink(const WString& target, const WString& arguments, const WString& linkFile,
                        const WString& description, const WString& iconFile, int iconIndex)
{
    ComApartment com;
    if (FAILED(com.Result()))
        return com.Result();

    ComPtr<IShellLinkW> link;
    HRESULT result =
        CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkW, link.PutVoid());
    if (FAILED(result))
        return result;
    // A failing setter does not stop the save.
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(FolderOf(target).c_str());
    link->SetDescription(description.c_str());
    link->SetIconLocation(iconFile.c_str(), iconIndex);
    link->SetArguments(arguments.c_str());

    ComPtr<IPersistFile> file;
    result = link->QueryInterface(kPersistFile, file.PutVoid());
    if (FAILED(result))
        return result;
    // A path that does not fit is refused rather than cut.
    if (linkFile.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return file->Save(linkFile.c_str(), TRUE);
}

bool CopyFileWithProgress(const WString& source, HANDLE target, CopyProgress progress)
{
    bool copied = false;
    UniqueHandle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size64;
    // The progress range is a signed 32-bit value; a stub with its
    // package never comes near 2 GB.
    if (in.Valid() && GetFileSizeEx(in.Get(), &size64) && size64.QuadPart <= 0x7FFFFFFF) {
        const DWORD size = static_cast<DWORD>(size64.QuadPart);
        progress(0, static_cast<int>(size));
        PieceBuffer buffer = NewPieceBuffer(kCopyPiece);
        DWORD done = 0;
        bool failed = false;
        // An empty source still makes one pass, so the display shows (0, 0, 0).
        do {
            DWORD got = ReadBytes(in.Get(), buffer.get(), kCopyPiece);
            if ((got == 0 && done < size) || !WriteAll(target, buffer.get(), got)) {
                failed = true;
                break;
            }
            done += got;
            progress(static_cast<int>(done), static_cast<int>(size));
            // Keeps the progress display calm.
            Sleep(15);
        } while (done < size); // not "!=": a source that grows meanwhile must not loop forever
        copied = !failed;
    }
    return copied;
}

SetupError EnsureFolder(const WString& path)
{
    if (path.empty())
        return SetupError("Unable to create directory");
    WString folder = path;
    if (folder.back() == '\\')
        folder.pop_back();
    if (folder.size() < 3 || IsExistingFolder(folder))
        return SetupError();
    WString parent = ParentWithSeparator(folder);
    if (parent == folder)
        return SetupError();
    // A relative name without any separator is made in the current folder.
    // The parent is never empty, so it raises nothing.
    if (!parent.empty())
        static_cast<void>(EnsureFolder(parent));
    CreateDirectoryW(folder.c_str(), nullptr);
    return SetupError();
}

bool IsExistingFolder(const WString& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool LinkOnTheWay(const WString& root, const WString& path)
{
    for (WString folder = FolderOf(path); folder.size() > root.size(); folder = FolderOf(folder)) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
    }
    return false;
}

bool IsExistingFile(const WString& path)
{
    // A wildcard would let FindFirstFileW report some other file.
    if (path.find('*') != WString::npos || path.find('?') != WString::npos)
        return false;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(FindFirstFileW(path.c_str(), &entry));
    return search.Valid() && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFolder(const WString& path) { RemoveDirectoryW(path.c_str()); }

WString DecodeText(const char* bytes, std::size_t size, uint16_t codePage)
{
    WString text;
    if (size == 0)
        return text;
    const UINT page = codePage ? codePage : CP_ACP;
    const int n = MultiByteToWideChar(page, 0, bytes, static_cast<int>(size), nullptr, 0);
    if (n > 0)
        MultiByteToWideChar(page, 0, bytes, static_cast<int>(size), text.Resize(n), n);
    return text;
}

String EncodeUtf8(const WString& text)
{
    String bytes;
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, nullptr, 0, nullptr, nullptr);
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, bytes.Resize(n), n, nullptr, nullptr);
    return bytes;
}
