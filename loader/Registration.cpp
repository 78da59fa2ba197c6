#include "loader/Registration.h"

#include <windows.h>

#include "package/PackageReader.h"
#include "package/VersionInfo.h"
#include "services/Log.h"
#include "services/Text.h"
#include "services/Win32.h"

namespace {

const wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct RegistryKeyTraits {
    using Type = HKEY;
    static HKEY None() { return nullptr; }
    static bool Valid(HKEY h) { return h != nullptr; }
    static bool Release(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using UniqueKey = Unique<RegistryKeyTraits>;

WString KeyName(const PackageReader& package)
{
    return UninstallKeyName(package.Text(HeaderText::CompanyFolder), package.Text(HeaderText::InstallFolder));
}

// A text of the running image's version resource, or empty.
WString OwnVersionText(const char* key)
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)); // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* info = loaded ? LockResource(loaded) : nullptr;
    return info ? VersionText(static_cast<const unsigned char*>(info), SizeofResource(nullptr, found), key)
                : WString();
}

} // namespace

SetupError RegisterProduct(const PackageReader& package, const WString& folder, const WString& uninstaller,
                           uint64_t bytes)
{
    const WString subkey = WFormat("%s\\%s", {WString(kUninstallRoot), KeyName(package)});
    const WString path = L"HKEY_LOCAL_MACHINE\\" + subkey;
    HKEY opened = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    UniqueKey key(opened);
    if (status != ERROR_SUCCESS)
        return FileError("create", path, static_cast<DWORD>(status));
    WString publisher = OwnVersionText("CompanyName");
    if (publisher.empty())
        publisher = package.Text(HeaderText::CompanyFolder);
    const WString quoted = WFormat("\"%s\"", {uninstaller});
    const WString quiet = package.Record().Asks(kAskUnattended) ? quoted + L" /QUIET" : WString();
    const WString icon = uninstaller + L",0";
    const WString version = OwnVersionText("ProductVersion");
    // An empty text is left out.
    const struct {
        const wchar_t* name;
        const WString& text;
    } texts[] = {
        {L"DisplayName", package.Text(HeaderText::ProductName)},
        {L"DisplayVersion", version},
        {L"Publisher", publisher},
        {L"InstallLocation", folder},
        {L"UninstallString", quoted},
        {L"QuietUninstallString", quiet},
        {L"DisplayIcon", icon},
    };
    for (const auto& t : texts)
        if (!t.text.empty() && status == ERROR_SUCCESS)
            status = RegSetValueExW(key.Get(), t.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.text.c_str()),
                                    static_cast<DWORD>((t.text.size() + 1) * sizeof(wchar_t)));
    const struct {
        const wchar_t* name;
        DWORD number;
    } numbers[] = {
        {L"EstimatedSize", static_cast<DWORD>((bytes + 1023) / 1024)},
        {L"NoModify", 1},
        {L"NoRepair", 1},
    };
    for (const auto& n : numbers)
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key.Get(), n.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n.number),
                                    sizeof n.number);
    if (status != ERROR_SUCCESS)
        return FileError("write", path, static_cast<DWORD>(status));
    Log("Registered ", path);
    return SetupError();
}

void UnregisterProduct(const PackageReader& package) noexcept
{
    const WString name = KeyName(package);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &opened) !=
        ERROR_SUCCESS)
        return;
    UniqueKey root(opened);
    const LSTATUS status = RegDeleteKeyW(root.Get(), name.c_str());
    Log(status == ERROR_SUCCESS ? "Unregistered " : "Not registered: ", name);
}
