// The record of one run, shared by the entry checks, the run control and the
// two sequences. Starts empty; lives until the run ends.
#pragma once
#include <string>
#include <vector>

#include "package/Package.h"
#include "services/Win32.h"

struct RunState {
    std::string OwnPath;
    std::vector<std::string> Args; // command-line arguments; [0] is the program
    bool Relaunched = false;       // argument 1 is exactly "/SECSUN"

    std::string ProgramFilesFolder;
    // Program Files at first; the installer forms the install folder from it
    // (and sets InstallFolderFormed), the uninstaller takes its own folder.
    std::string InstallFolderPath;
    bool InstallFolderFormed = false;
    std::string ProgramsFolder;

    UniqueHandle OwnFile; // read-only, others may read but not write
    PackageMarker Marker;
    PackageHeader Header;

    std::string ModeCaption; // empty until the mode is known: "Setup" or "Uninstall"
    std::string VerbPhrase;
    std::string ShortcutList;
    std::string FileList;
    std::string RunList;
    std::string TempCabinetPath;
    // Held from its creation to the clean-up, so that nobody can change the
    // checked cabinet; it is deleted as this handle closes.
    UniqueHandle TempCabinet;
    std::string TempLicenseFolder; // this run's own "_KT" folder, holding only the license
    std::string TempLicensePath;
    std::string TempCopyPath;

    bool IsUninstaller() const { return Header.UninstallMode() != 0; }
};
