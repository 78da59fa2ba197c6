// What one run works with, in the parts its steps take: how it was started
// (Invocation, loader/CommandLine.h), the shell folders, its own package and the
// temporary files it leaves to the clean-up. Each lives for the whole run;
// RunSetup owns them.
#pragma once
#include <windows.h>

#include "loader/CommandLine.h"
#include "package/PackageReader.h"
#include "package/String.h"
#include "services/Win32.h"

struct ShellFolders {
    String ProgramFiles;
    String Programs; // the Start menu's
};

// The own file, held open for reading (others may read it, nobody may
// write it) from the start of the run to its clean-up, and the one reader
// of the package in it.
class OwnPackage {
public:
    explicit OwnPackage(const String& path)
        : File(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr)),
          Source(File.Get()), Reader(Source)
    {
    }
    OwnPackage(const OwnPackage&) = delete;
    OwnPackage& operator=(const OwnPackage&) = delete;

    UniqueHandle File;
    FileSource Source;
    PackageReader Reader;
};

// Deleted by FinalCleanup.
struct TempFiles {
    String CabinetPath;
    // Held from its creation to the clean-up, so that nobody can change the
    // checked cabinet; it is deleted as this handle closes.
    UniqueHandle Cabinet;
    String LicenseFolder; // this run's own "_KT" folder, holding only the license
    String LicensePath;
};
