// The built-in operations: the progress window (uSetup) and the license
// window (uLicense). Each does nothing, or answers false or none, while its
// window does not exist.

#include "package/String.h"
#include "ui/LicenseText.h"
#include "ui/uGUI.h"
#include "ui/uLicense.h"
#include "ui/uSetup.h"

namespace {

// Made by GuiCreate and taken down by GuiDestroy, which the run always
// calls: plain pointers leave nothing for the process's end to run.
TForm1* gProgress = nullptr;
TForm2* gLicense = nullptr;

bool BuiltinCreate()
{
    gProgress = new TForm1;
    if (!gProgress->Handle())
        return false;
    gLicense = new TForm2;
    return gLicense->Handle() != nullptr;
}

void BuiltinDestroy()
{
    if (gProgress) {
        gProgress->MayClose = true;
        delete gProgress;
        gProgress = nullptr;
    }
    delete gLicense;
    gLicense = nullptr;
}

void BuiltinHide()
{
    if (gProgress)
        gProgress->Hide();
}

HWND BuiltinOwnerWindow() { return gProgress ? gProgress->Handle() : nullptr; }

bool BuiltinLicense(const wchar_t* name, const wchar_t* licenseFile, uint16_t codePage)
{
    if (!gLicense)
        return false;
    WString title = LicenseTitle(name);
    WString file(licenseFile);
    gLicense->SetCaption(title);
    gLicense->LoadLicense(file, codePage);
    return gLicense->ShowModal(gProgress ? gProgress->Icon() : nullptr) == kLicenseAccepted;
}

void BuiltinSetCaption(const wchar_t* caption)
{
    if (gProgress)
        gProgress->SetCaption(caption);
}

void BuiltinSetStatus(const wchar_t* status, const wchar_t* longText)
{
    if (!gProgress)
        return;
    WString statusText(status);
    WString longCopy(longText);
    gProgress->SetStatusText(statusText);
    if (!longCopy.empty())
        gProgress->SetLongText(longCopy);
}

void BuiltinShow(int mode)
{
    if (gProgress)
        gProgress->ShowMode(mode);
}

bool BuiltinStep(int count) { return !gProgress || gProgress->StepProgress(count); }

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

const TGuiOperations& BuiltinGuiOperations()
{
    static const TGuiOperations builtin = {BuiltinCreate,  BuiltinDestroy,    BuiltinHide,      BuiltinOwnerWindow,
                                           BuiltinLicense, BuiltinSetCaption, BuiltinSetStatus, BuiltinShow,
                                           BuiltinStep,    BuiltinSetBusy,    BuiltinSetRange};
    return builtin;
}
