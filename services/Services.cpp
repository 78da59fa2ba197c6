#include "services/Services.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "services/SetupError.h"
#include "services/Text.h"
#include "ui/uGUI.h"

namespace {

bool SystemLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

constexpr DWORD kCopyPiece = 16384;

// Balances a successful CoInitialize, also when something between raises.
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

std::string UniqueTempName(const std::string& folder, const std::string& extension)
{
    return SearchTempName(folder, extension, [](const std::string& candidate) {
        if (IsExistingFolder(candidate))
            return false;
        if (!IsExistingFile(candidate))
            return true;
        // Taken unless nobody holds it open: then it is emptied and reused.
        UniqueHandle file(CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.Valid();
    });
}

std::string WindowsFolder()
{
    char buffer[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
    return std::string(buffer, n < MAX_PATH ? n : 0);
}

std::string TempFolder()
{
    std::string temp = WithBackslash(WindowsFolder()) + "Temp";
    char buffer[MAX_PATH] = {};
    DWORD n = GetFullPathNameA(temp.c_str(), MAX_PATH, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return temp;
    return std::string(buffer, n);
}

UniqueHandle LaunchProgram(const std::string& file, const std::string& parameters, int waitMs)
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

HRESULT CreateShellLink(const std::string& target, const std::string& arguments, const std::string& linkFile,
                        const std::string& description, const std::string& iconFile, int iconIndex)
{
    try {
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
    } catch (...) {
        return E_OUTOFMEMORY; // the only thing that can raise above is an allocation
    }
}

bool CopyFileWithProgress(const std::string& source, const std::string& target)
{
    bool copied = false;
    try {
        UniqueHandle in(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size64;
        // The progress range is a signed 32-bit value; a stub with its
        // package never comes near 2 GB.
        if (in.Valid() && GetFileSizeEx(in.Get(), &size64) && size64.QuadPart <= 0x7FFFFFFF) {
            const DWORD size = static_cast<DWORD>(size64.QuadPart);
            if (GuiActive())
                GuiSetRange(0, static_cast<int>(size), 0);
            UniqueHandle out(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
            if (out.Valid()) {
                std::vector<unsigned char> buffer(kCopyPiece);
                DWORD done = 0;
                bool failed = false;
                // An empty source still makes one pass, so the display shows (0, 0, 0).
                do {
                    DWORD got = ReadBytes(in.Get(), buffer.data(), kCopyPiece);
                    if ((got == 0 && done < size) || !WriteAll(out.Get(), buffer.data(), got)) {
                        failed = true;
                        break;
                    }
                    done += got;
                    if (GuiActive())
                        GuiSetRange(static_cast<int>(done), static_cast<int>(size), 0);
                    // Keeps the progress display calm.
                    Sleep(15);
                } while (done < size); // not "!=": a source that grows meanwhile must not loop forever
                copied = !failed && out.Close();
            }
        }
    } catch (...) {
        copied = false;
    }
    if (!copied)
        DeleteFileA(target.c_str());
    return copied;
}

void EnsureFolder(const std::string& path)
{
    if (path.empty())
        throw SetupError("Unable to create directory");
    std::string folder = path;
    if (folder.back() == '\\')
        folder.pop_back();
    if (folder.size() < 3 || IsExistingFolder(folder))
        return;
    std::string parent = ParentWithSeparator(folder, SystemLeadByte);
    if (parent == folder)
        return;
    // A relative name without any separator is made in the current folder.
    if (!parent.empty())
        EnsureFolder(parent);
    CreateDirectoryA(folder.c_str(), nullptr);
}

bool IsExistingFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFile(const std::string& path)
{
    // A wildcard would let FindFirstFileA report some other file.
    if (path.find_first_of("*?") != std::string::npos)
        return false;
    WIN32_FIND_DATAA entry;
    UniqueFindHandle search(FindFirstFileA(path.c_str(), &entry));
    return search.Valid() && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFolder(const std::string& path) { RemoveDirectoryA(path.c_str()); }

std::string FolderOf(const std::string& path) { return FolderOfPath(path, SystemLeadByte); }
