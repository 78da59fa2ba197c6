// The progress window: an icon for installation or removal, the long
// explanation, the status line, the bar, the estimate of the time left and
// the Abort button. Only uGUI drives it.
#pragma once
#include <windows.h>

#include "package/String.h"
#include "ui/uWin.h"

// Control IDs of TForm1, stable so tests and the robot can find them.
enum TForm1Control : int {
    kForm1Label1 = 1001,
    kForm1ProgressBar1 = 1002,
    kForm1Button1 = 1003,
    kForm1Image1 = 1004,
    kForm1LongLabel = 1005,
    kForm1TimeLabel = 1006,
};

class TForm1 {
public:
    // Creates the window hidden; Handle() is none when it cannot.
    TForm1();
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return window_.Get(); }

    bool AbortRequested = false;
    double BusyStart = 0; // local date-time in days; only differences count
    bool MayClose = false;

    void SetProgressRange(int position, int maximum, int minimum);
    // False when the user has asked to abort.
    bool StepProgress(int count);
    void SetStatusText(const WString& text);
    void SetLongText(const WString& text);
    void BeginBusy();
    void EndBusy();

    void SetCaption(const WString& caption);
    // Mode 0: "MAINICON", 1: "UNINSTALL", else the icon stays; then shown.
    void ShowMode(int mode);
    void Hide();
    // The icon shown now, or nullptr.
    HICON Icon() const { return icon_; }

private:
    void FormCreate();
    void FormShow();
    void Button1Click();
    void Timer1Timer();
    bool FormCloseQuery();

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    friend LRESULT FormWindowProc<TForm1>(HWND, UINT, WPARAM, LPARAM);
    HWND Item(int id) const { return GetDlgItem(window_.Get(), id); }
    // Draws what was set and not yet drawn: status line, bar, window.
    void Paint();
    bool PaintDue() const;

    UniqueGdiObject font_;
    UniqueWindow window_;
    HICON icon_ = nullptr; // loaded shared: never destroyed
    int iconMode_ = -1;
    // The bar as set; the control holds barPosition_ until the next paint.
    int minimum_ = 0;
    int maximum_ = 1;
    int position_ = 0;
    int barPosition_ = 0;
    WString status_ = L"     ";
    bool statusPending_ = false; // status_ not yet in Label1
    bool barShown_ = true;
    bool busy_ = false;
    DWORD paintedAt_ = 0;
};

// Now as a local date-time in days.
double NowInDays();
