#include "ui/uGUI.h"

#include <memory>
#include <string>

#include "services/SetupError.h"
#include "ui/LicenseText.h"
#include "ui/uLicense.h"
#include "ui/uSetup.h"

TGuiOperations GuiOperations = {};

namespace {

int gActive = 0;
std::unique_ptr<TForm1> gProgress; // TForm1
std::unique_ptr<TForm2> gLicense;  // TForm2

std::string Copied(const char* text) { return text ? std::string(text) : std::string(); }

void BuiltinCreate()
{
#ifdef CABSETUP_GUI_CREATE_FAILS
    // The test build of the stub that exercises the road without windows.
    throw SetupError("Windows are switched off in this build");
#else
    gProgress = std::make_unique<TForm1>();
    gLicense = std::make_unique<TForm2>();
#endif
}

void BuiltinDestroy()
{
    if (gProgress) {
        gProgress->MayClose = true;
        gProgress.reset();
    }
    gLicense.reset();
}

void BuiltinHide()
{
    if (gProgress)
        gProgress->Hide();
}

HWND BuiltinOwnerWindow() { return gProgress ? gProgress->Handle() : nullptr; }

bool BuiltinLicense(const char* name, const char* licenseFile)
{
    if (!gLicense)
        return false;
    std::string title = LicenseTitle(Copied(name));
    std::string file = Copied(licenseFile);
    gLicense->SetCaption(title);
    gLicense->LoadLicense(file);
    return gLicense->ShowModal(gProgress ? gProgress->Icon() : nullptr) == kLicenseAccepted;
}

void BuiltinSetCaption(const char* caption)
{
    if (gProgress)
        gProgress->SetCaption(Copied(caption));
}

void BuiltinSetStatus(const char* status, const char* longText)
{
    if (!gProgress)
        return;
    std::string statusText = Copied(status);
    std::string longCopy = Copied(longText);
    gProgress->SetStatusText(statusText);
    if (!longCopy.empty())
        gProgress->SetLongText(longCopy);
}

void BuiltinShow(int mode)
{
    if (gProgress)
        gProgress->ShowMode(mode);
}

void BuiltinStep(int count)
{
    if (gProgress)
        gProgress->StepProgress(count);
}

void BuiltinSetBusy(int on)
{
    if (!gProgress)
        return;
    if (on)
        gProgress->BeginBusy();
    else
        gProgress->EndBusy();
}

void BuiltinSetRange(int position, int maximum, int minimum)
{
    if (gProgress)
        gProgress->SetProgressRange(position, maximum, minimum);
}

} // namespace

bool GuiActive() { return gActive != 0; }

bool GuiInit(const char*)
{
    // The library path is not used: the built-in windows always serve.
    if (GuiActive())
        return false;
    gActive = 1;
    try {
        GuiOperations = TGuiOperations{BuiltinCreate,     BuiltinDestroy,    BuiltinHide,    BuiltinOwnerWindow,
                                       BuiltinLicense,    BuiltinSetCaption, BuiltinSetStatus, BuiltinShow,
                                       BuiltinStep,       BuiltinSetBusy,    BuiltinSetRange};
        GuiOperations.GuiCreate();
        return true;
    } catch (...) {
        // No windows: the run goes on with plain message boxes.
        GuiDone();
        return false;
    }
}

void GuiDone()
{
    if (!GuiActive())
        return;
    // The state is reset however GuiDestroy ends; its error goes on.
    struct Reset {
        ~Reset()
        {
            gActive = 0;
            GuiOperations.GuiCreate = nullptr;
            GuiOperations.GuiDestroy = nullptr;
        }
    } reset;
    if (GuiOperations.GuiDestroy)
        GuiOperations.GuiDestroy();
}

HWND GuiMessageOwner() { return GuiActive() ? GuiOperations.GuiOwnerWindow() : nullptr; }
