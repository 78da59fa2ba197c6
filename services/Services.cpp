#include "services/Services.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "services/SetupError.h"
#include "services/Text.h"

namespace {

bool SystemLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

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
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
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
SetupError CreateTempEntry(const String& folder, const String& extension, UniqueHandle* file,
                           HANDLE renamed, DWORD flags, bool& created, String& name)
{
    created = false;
    return SearchTempName(folder, extension, TempSearchStart(), [&](const String& candidate) {
        // CREATE_NEW (and a rename that replaces nothing) neither opens,
        // truncates nor follows what is there.
        if (file) {
            *file = UniqueHandle(CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
            created = file->Valid();
        } else if (renamed) {
            RenameInformation info = {};
            int n = MultiByteToWideChar(CP_ACP, 0, candidate.c_str(), -1, info.fileName, MAX_PATH);
            info.fileNameLength = n > 0 ? (n - 1) * sizeof(WCHAR) : 0;
            const int kFileRenameInfo = 3;
            SetInformation set = SetFileInformation();
            created = n > 0 && set && set(renamed, kFileRenameInfo, &info, sizeof info);
        } else {
            created = CreateDirectoryA(candidate.c_str(), nullptr) != 0;
        }
        DWORD error = GetLastError();
        return created ? TempTry::Created
                       : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? TempTry::Taken : TempTry::Failed;
    }, name);
}

} // namespace

SetupError UniqueTempName(const String& folder, const String& extension, UniqueHandle& file,
                          String& name, DWORD flags)
{
    bool created;
    return CreateTempEntry(folder, extension, &file, nullptr, flags, created, name);
}

SetupError UniqueTempFolder(const String& folder, String& path, bool& created)
{
    return CreateTempEntry(folder, "", nullptr, nullptr, 0, created, path);
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

bool StartCheckedCopy(UniqueHandle& written, String& path, const String& parameters, HANDLE reference)
{
    // The loader maps no file that anybody may write, so the writing handle
    // must go, and that leaves a moment in which all handles let others
    // write: no share mode can close it. A reading handle takes over first,
    // then one that lets others only read; what somebody changes in between
    // is found below.
    UniqueHandle bridge(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    written.Close();
    UniqueHandle kept(
        CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    bridge.Close();
    if (!kept.Valid())
        return false; // somebody holds it open for writing

    // The name it starts under is a new one that it gets while held: under
    // that name nobody can ever write, replace or delete it. Without the
    // means to rename (before Vista) it starts under the first.
    if (SetFileInformation()) {
        bool renamed;
        String name;
        // Every name taken counts as a name that cannot be had.
        if (CreateTempEntry(FolderOf(path), ".exe", nullptr, kept.Get(), 0, renamed, name) || !renamed)
            return false;
        path = name;
    }

    String commandLine = "\"" + path + "\" " + parameters;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started))
        return false;
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    // Its image is mapped now and the file can no longer be written,
    // replaced or deleted: what it holds is what would run. The copy opens
    // itself letting others only read, so the deleting handle goes first.
    const bool same = SameContent(kept.Get(), reference);
    kept.Close();
    if (same && ResumeThread(thread.Get()) != static_cast<DWORD>(-1))
        return true;
    TerminateProcess(process.Get(), 1);
    // Until it is gone its image keeps the file from being deleted.
    WaitForSingleObject(process.Get(), 5000);
    return false;
}

HMODULE LoadSystemLibrary(const char* name)
{
    const DWORD kSearchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (HMODULE module = LoadLibraryExA(name, nullptr, kSearchSystem32))
        return module;
    // Systems without the search flags refuse them; a full path works
    // everywhere.
    const int kNameRoom = 16; // "\\" and a short DLL name such as "comctl32.dll"
    char path[MAX_PATH + kNameRoom];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    path[n] = '\\';
    lstrcpynA(path + n + 1, name, kNameRoom - 1);
    return LoadLibraryA(path);
}

String WindowsFolder()
{
    char buffer[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
    return String(buffer, n < MAX_PATH ? n : 0);
}

String TempFolder()
{
    String temp = WithBackslash(WindowsFolder()) + "Temp";
    char buffer[MAX_PATH] = {};
    DWORD n = GetFullPathNameA(temp.c_str(), MAX_PATH, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return temp;
    return String(buffer, n);
}

UniqueHandle LaunchProgram(const String& file, const String& parameters, int waitMs)
{
    SHELLEXECUTEINFOA request = {};
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpFile = file.c_str();
    request.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    request.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&request))
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
const IID kShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

} // namespace

HRESULT CreateShellLink(const String& target, const String& arguments, const String& linkFile,
                        const String& description, const String& iconFile, int iconIndex)
{
    ComApartment com;
    if (FAILED(com.Result()))
        return com.Result();

    ComPtr<IShellLinkA> link;
    HRESULT result =
        CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkA, link.PutVoid());
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
    // MultiByteToWideChar stops at the buffer's end and reports 0; a
    // path that does not fit is refused rather than cut.
    wchar_t widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, widePath, MAX_PATH) == 0)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return file->Save(widePath, TRUE);
}

bool CopyFileWithProgress(const String& source, HANDLE target, CopyProgress progress)
{
    bool copied = false;
    UniqueHandle in(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

SetupError EnsureFolder(const String& path)
{
    if (path.empty())
        return SetupError("Unable to create directory");
    String folder = path;
    if (folder.back() == '\\')
        folder.pop_back();
    if (folder.size() < 3 || IsExistingFolder(folder))
        return SetupError();
    String parent = ParentWithSeparator(folder, SystemLeadByte);
    if (parent == folder)
        return SetupError();
    // A relative name without any separator is made in the current folder.
    // The parent is never empty, so it raises nothing.
    if (!parent.empty())
        static_cast<void>(EnsureFolder(parent));
    CreateDirectoryA(folder.c_str(), nullptr);
    return SetupError();
}

bool IsExistingFolder(const String& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFile(const String& path)
{
    // A wildcard would let FindFirstFileA report some other file.
    if (path.find('*') != String::npos || path.find('?') != String::npos)
        return false;
    WIN32_FIND_DATAA entry;
    UniqueFindHandle search(FindFirstFileA(path.c_str(), &entry));
    return search.Valid() && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFolder(const String& path) { RemoveDirectoryA(path.c_str()); }

String FolderOf(const String& path) { return FolderOfPath(path, SystemLeadByte); }
