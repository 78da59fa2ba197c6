#include "loader/Loader.h"

#include <windows.h>
#include <shlobj.h>

#include "loader/Checks.h"
#include "loader/RunControl.h"
#include "loader/RunState.h"
#include "package/PathRules.h"

namespace {

std::string ShellFolder(int csidl)
{
    // The result is not tested: a failure leaves the buffer empty and the
    // later folder operations fail on their own.
    char buffer[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, buffer);
    return buffer;
}

uint64_t FileSize(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

void ReportDamaged(const RunState& run)
{
    // Before the mode is known the box has no owner and no caption.
    MessageBoxA(nullptr, DamagedCopyText(std::string(), run.OwnPath).c_str(), nullptr, MB_ICONERROR);
}

// Checks 1 to 4, with the header texts' places. True when the run may go on.
bool CheckPackage(RunState& run)
{
    // I/O errors never raise here: a failed open or read leaves the marker
    // zero, which reads as a bare stub.
    unsigned char markerBytes[kMarkerSize] = {};
    if (run.OwnFile.Valid() && SeekTo(run.OwnFile.Get(), kMarkerOffset))
        ReadBytes(run.OwnFile.Get(), markerBytes, kMarkerSize);
    run.Marker = PackageMarker::Decode(markerBytes);

    switch (CheckMarker(run.Marker, run.OwnFile.Valid() ? FileSize(run.OwnFile.Get()) : 0)) {
    case PackageState::Bare:
        MessageBoxA(nullptr, "Please, run TAVO.EXE for details.", "Loader", MB_ICONINFORMATION);
        return false;
    case PackageState::Damaged:
        ReportDamaged(run);
        return false;
    case PackageState::Sound:
        break;
    }

    if (SeekTo(run.OwnFile.Get(), run.Marker.StubSize))
        ReadBytes(run.OwnFile.Get(), run.Header.Bytes(), kHeaderSize);
    // A text that would lead outside its place makes the package as damaged
    // as a wrong checksum: refused before anything is shown or written.
    if (!HeaderSound(run.Header, run.Marker) || CheckHeaderNames(run.Header).rule != NameRule::Allowed) {
        ReportDamaged(run);
        return false;
    }
    return true;
}

} // namespace

void RunSetup(const std::string& ownPath, const std::vector<std::string>& args)
{
    RunState run;
    run.OwnPath = ownPath;
    run.Args = args;
    run.Relaunched = IsRelaunched(args);
    run.ProgramFilesFolder = ShellFolder(CSIDL_PROGRAM_FILES);
    run.InstallFolderPath = run.ProgramFilesFolder;
    run.ProgramsFolder = ShellFolder(CSIDL_PROGRAMS);

    run.OwnFile = UniqueHandle(CreateFileA(ownPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));

    // Every way out closes the own file before the closing clean-up; an
    // exception passes through the same two steps on its way to the entry.
    try {
        if (CheckPackage(run))
            RunControl(run);
    } catch (...) {
        run.OwnFile.Close();
        FinalCleanup(run);
        throw;
    }
    run.OwnFile.Close();
    FinalCleanup(run);
}
