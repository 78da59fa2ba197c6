// The license window: the product's license text and the question whether
// the user accepts it. Shown modally by GuiLicense only.
#pragma once
#include <windows.h>

#include <cstdint>

#include "package/String.h"
#include "ui/uWin.h"

// Control IDs of TForm2. The buttons keep clear of IDOK and IDCANCEL: the
// dialog manager sends those for Enter and Escape when no button has the
// focus, and neither may answer the question.
enum TForm2Control : int {
    kForm2Image1 = 2001,
    kForm2Label1 = 2002,
    kForm2Memo1 = 2003,
    kForm2Button1 = 2004,
    kForm2Button2 = 2005,
    kForm2Label2 = 2006,
};

// Results of ShowModal.
constexpr int kLicenseAccepted = 1;
constexpr int kLicenseDeclined = 2;

class TForm2 {
public:
    // Creates the window hidden; Handle() is none when it cannot.
    TForm2();
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    HWND Handle() const { return window_.Get(); }

    void SetCaption(const WString& caption);
    // Fills Memo1 from the file, decoded as DecodeLicense does (codePage 0:
    // the system's); never fails.
    void LoadLicense(const WString& path, uint16_t codePage);
    // Shows the window modally with a copy of progressIcon (may be nullptr)
    // and returns kLicenseAccepted or kLicenseDeclined.
    int ShowModal(HICON progressIcon);

private:
    void FormCreate();
    void FormShow(HICON progressIcon);

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    friend LRESULT FormWindowProc<TForm2>(HWND, UINT, WPARAM, LPARAM);
    HWND Item(int id) const { return GetDlgItem(window_.Get(), id); }

    UniqueGdiObject font_;
    UniqueIcon icon_;
    UniqueWindow window_;
    int modalResult_ = 0;
};
