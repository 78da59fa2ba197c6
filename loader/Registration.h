// The product's entry in Apps & features: a key of its own under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall, where Windows
// and deployment tools look for what is installed. The 32-bit stub's key
// lands where Windows keeps 32-bit programs' keys.
#pragma once
#include <cstdint>

#include "package/String.h"
#include "services/SetupError.h"

class PackageReader;

// Writes the key of an installation into folder whose uninstaller is
// uninstaller, of bytes installed: a key there already (an earlier version)
// is rewritten. DisplayVersion and Publisher come from the image's version
// resource (Publisher: else CompanyFolder); QuietUninstallString only for a
// package that runs unattended.
SetupError RegisterProduct(const PackageReader& package, const WString& folder, const WString& uninstaller,
                           uint64_t bytes);
// Removes the key; a key that is not there is no failure.
void UnregisterProduct(const PackageReader& package) noexcept;
