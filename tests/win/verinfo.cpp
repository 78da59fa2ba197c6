// What Windows reads of a program's branding, one line each (UTF-8):
//   version A.B.C.D A.B.C.D      the fixed file and product versions
//   KEY=value                    each string asked for, of the first translation
//   icon NAME W W ...            each icon group in directory order, its images' widths,
//                                "loads" when its 32 x 32 image makes an icon
//   verinfo FILE KEY...
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    std::printf("%s\n", out.c_str());
}

std::wstring Quad(DWORD high, DWORD low)
{
    return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." + std::to_wstring(HIWORD(low)) +
           L"." + std::to_wstring(LOWORD(low));
}

struct Module {
    HMODULE handle;
    ~Module()
    {
        if (handle)
            FreeLibrary(handle);
    }
};

BOOL CALLBACK TakeName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names)
{
    reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(IS_INTRESOURCE(name)
        ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name));
    return TRUE;
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD size;
    WORD id;
};
#pragma pack(pop)

void PrintIcons(const wchar_t* file)
{
    Module module{LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    if (!module.handle)
        return Print(L"icon: cannot load " + std::wstring(file));
    std::vector<std::wstring> names;
    EnumResourceNamesW(module.handle, MAKEINTRESOURCEW(14), TakeName, reinterpret_cast<LONG_PTR>(&names));
    for (const std::wstring& name : names) {
        HRSRC found = FindResourceW(module.handle, name.c_str(), MAKEINTRESOURCEW(14));
        auto* group = found ? static_cast<BYTE*>(LockResource(LoadResource(module.handle, found))) : nullptr;
        if (!group)
            continue;
        std::wstring line = L"icon " + name;
        const WORD count = reinterpret_cast<WORD*>(group)[2];
        const auto* entries = reinterpret_cast<const GroupEntry*>(group + 6);
        for (WORD i = 0; i < count; ++i)
            line += L" " + std::to_wstring(entries[i].width ? entries[i].width : 256);
        // The image Windows picks for 32 x 32, made into an icon.
        int id = LookupIconIdFromDirectoryEx(group, TRUE, 32, 32, LR_DEFAULTCOLOR);
        HRSRC image = id ? FindResourceW(module.handle, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)) : nullptr;
        if (image) {
            auto* bits = static_cast<BYTE*>(LockResource(LoadResource(module.handle, image)));
            HICON icon = CreateIconFromResourceEx(bits, SizeofResource(module.handle, image), TRUE, 0x00030000, 32, 32,
                                                  LR_DEFAULTCOLOR);
            if (icon) {
                line += L" loads";
                DestroyIcon(icon);
            }
        }
        Print(line);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: verinfo FILE KEY...\n");
        return 2;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<BYTE> info(size ? size : 1);
    if (!size || !GetFileVersionInfoW(argv[1], 0, size, info.data())) {
        Print(L"version: none");
    } else {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
            Print(L"version " + Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + L" " +
                  Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
        WORD* translation = nullptr;
        if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
            length >= 4) {
            wchar_t prefix[64];
            swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
            for (int i = 2; i < argc; ++i) {
                wchar_t* value = nullptr;
                if (VerQueryValueW(info.data(), (std::wstring(prefix) + argv[i]).c_str(),
                                   reinterpret_cast<void**>(&value), &length) && value)
                    Print(std::wstring(argv[i]) + L"=" + value);
                else
                    Print(std::wstring(argv[i]) + L": none");
            }
        }
    }
    PrintIcons(argv[1]);
    return 0;
}
