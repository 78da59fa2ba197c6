// What one run works with, in the parts its steps take: how it was started
// (Invocation, loader/CommandLine.h), the shell folders, its own package and the
// temporary files it leaves to the clean-up. Each lives for the whole run;
// RunSetup owns them.
#pragma once
#include <windows.h>

#include "loader/CommandLine.h"
#include "package/PackageReader.h"
#include "package/String.h"
#include "services/Services.h"
#include "services/Win32.h"

struct ShellFolders {
    WString ProgramFiles;
    WString Programs; // the Start menu's
};

// The own file, by the wide name Windows gives for the running image, held
// open for reading (others may read it, nobody may write, rename or delete
// it) from the start of the run to its clean-up, and the one reader of the
// package in it, which decodes the package's texts with the system's
// converter.
//
// An uninstaller's relaunched copy is handed its file instead (`handed`):
// the handle its parent held while it compared the copy's bytes, and that
// the copy inherits. Its name, in Temp, is never opened.
class OwnPackage {
public:
    OwnPackage(WString path, HANDLE handed)
        : Path(static_cast<WString&&>(path)),
          File(handed ? handed
                      : CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)),
          Source(File.Get()), Reader(Source)
    {
        Reader.DecodeWith(DecodeText);
    }
    OwnPackage(const OwnPackage&) = delete;
    OwnPackage& operator=(const OwnPackage&) = delete;

    const WString Path;
    UniqueHandle File;
    FileSource Source;
    PackageReader Reader;
};

// Deleted by FinalCleanup.
struct TempFiles {
    WString CabinetPath;
    // Held from its creation to the clean-up, so that nobody can change the
    // checked cabinet; it is deleted as this handle closes.
    UniqueHandle Cabinet;
    WString LicenseFolder; // this run's own "_KT" folder, holding only the license
    WString LicensePath;
};
