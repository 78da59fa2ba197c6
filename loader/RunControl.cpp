#include "loader/RunControl.h"

#include <windows.h>

// Until the interface and the sequences exist the run ends here.
void RunControl(RunState&) {}

void FinalCleanup(RunState& run)
{
    Sleep(200);
    if (!run.TempCabinetPath.empty())
        DeleteFileA(run.TempCabinetPath.c_str());
    if (!run.TempLicensePath.empty())
        DeleteFileA(run.TempLicensePath.c_str());
}
