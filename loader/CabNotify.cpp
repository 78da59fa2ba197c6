#include "loader/CabNotify.h"

#include "services/Log.h"
#include "services/Text.h"
#include "ui/uGUI.h"

SetupError TCabNotify::NotifyFile(TUnCab&, const WString& fileName, int32_t size, const SYSTEMTIME&, uint8_t&)
{
    Bytes += static_cast<uint32_t>(size);
    FileList.Append(fileName.c_str() + Skip, fileName.size() - Skip);
    FileList += L'\r';
    Log("Extracting ", fileName);
    // Without windows there is nothing to watch, and nothing to wait for.
    if (!GuiActive())
        return SetupError();
    GuiSetStatus(ShortStr(WFormat("Installing %s...", {LastComponent(fileName)})).c_str(), L"");
    if (SetupError error = GuiStep(1))
        return error;
    // Long enough for the status line and the bar to be seen moving.
    Sleep(15);
    return SetupError();
}
