#include "ui/uSetup.h"

#include <commctrl.h>

#include "services/Services.h"
#include "ui/Estimate.h"

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 1000;
constexpr int kClientWidth = 381;
constexpr int kClientHeight = 130;
// How far the window sits above the screen's vertical centre.
constexpr int kAboveCentre = 142;
// While busy, status line and bar are drawn at most this often (ms): each
// drawing costs more than a small file's extraction, and the eye sees no
// more than this anyway.
constexpr DWORD kPaintInterval = 100;

// clang-format off
const ControlLayout kLayout[] = {
    // id               class            text      style                                  ex  left top  width height
    {kForm1Label1,      L"STATIC",       L"     ",  SS_LEFTNOWORDWRAP | SS_NOPREFIX,       0,  12,  78,    0, 13},
    {kForm1ProgressBar1, PROGRESS_CLASSW, L"",      0,                                     0,  12,  96,  273, 15},
    {kForm1Button1,     L"BUTTON",       L"&Abort", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0, 296, 96,  75, 25},
    {kForm1Image1,      L"STATIC",       L"",       SS_ICON,                               0,  12,  12,   32, 32},
    {kForm1LongLabel,   L"STATIC",       L"",       SS_LEFT | SS_NOPREFIX,                 0,  64,  16,  305, 57},
    {kForm1TimeLabel,   L"STATIC",       L"     ",  SS_LEFTNOWORDWRAP | SS_NOPREFIX,       0,  12, 116,    0, 13},
};
// clang-format on

const ControlLayout& Row(int id)
{
    for (const ControlLayout& row : kLayout)
        if (row.Id == id)
            return row;
    return kLayout[0];
}

WString TimeOfDayText(const ClockTime& time)
{
    SYSTEMTIME st{};
    st.wYear = 2000;
    st.wMonth = 1;
    st.wDay = 1;
    st.wHour = static_cast<WORD>(time.Hour);
    st.wMinute = static_cast<WORD>(time.Minute);
    st.wSecond = static_cast<WORD>(time.Second);
    wchar_t buffer[64] = {};
    // No flags and no picture: the user's long time format.
    if (!GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 64))
        return WString();
    return buffer;
}

} // namespace

double NowInDays()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER ticks;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    return static_cast<double>(ticks.QuadPart) / 864000000000.0; // 100 ns ticks per day
}

TForm1::TForm1()
{
    // The common controls are no system DLL the loader protects: taken from
    // the system folder (or, through the manifest, its side-by-side store).
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (HMODULE controls = LoadSystemLibrary(L"comctl32.dll"))
        if (auto init = reinterpret_cast<InitControls>(
                reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx"))))
            init(&icc);
    RegisterDialogClass(L"TForm1", WindowProc);
    FormCreate();
    // WS_EX_APPWINDOW: the one window of a running setup has a taskbar button.
    window_.Reset(
        CreateDialogWindow(L"TForm1", L"Setup", kDialogExStyle | WS_EX_APPWINDOW, kClientWidth, kClientHeight, this));
    if (!window_.Get() || !CreateControls(window_.Get(), kLayout, sizeof kLayout / sizeof kLayout[0],
                                          static_cast<HFONT>(font_.Get()))) {
        window_.Reset();
        return;
    }
    TrimSystemMenu(window_.Get());
    SendMessageW(Item(kForm1ProgressBar1), PBM_SETRANGE32, 0, 1);
    SendMessageW(Item(kForm1ProgressBar1), PBM_SETPOS, 0, 0);
}

TForm1::~TForm1()
{
    // Destroyed before the font it uses.
    window_.Reset();
}

void TForm1::FormCreate() { font_.Reset(CreateDialogFont()); }

void TForm1::FormShow()
{
    RECT rc{};
    GetWindowRect(window_.Get(), &rc);
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;
    // Integer division toward zero; not clamped to the screen.
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2 - kAboveCentre;
    SetWindowPos(window_.Get(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    AbortRequested = false;
}

void TForm1::SetProgressRange(int position, int maximum, int minimum)
{
    HWND bar = Item(kForm1ProgressBar1);
    // The range message takes both ends at once; setting the minimum first
    // against the old maximum, then the maximum, keeps the order of setting.
    int oldMaximum = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(minimum), oldMaximum);
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    // What the bar made of it is what later steps start from.
    minimum_ = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
    maximum_ = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    position_ = barPosition_ = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    Paint();
}

bool TForm1::StepProgress(int count)
{
    long long position = static_cast<long long>(position_) + count;
    if (position > maximum_)
        position = maximum_;
    if (position < minimum_)
        position = minimum_;
    position_ = static_cast<int>(position);
    if (!busy_ || PaintDue())
        Paint();
    ProcessPendingMessages();
    // Told here, after the pump, never from inside a window procedure; the
    // last step is shown first.
    if (AbortRequested)
        Paint();
    return !AbortRequested;
}

void TForm1::SetStatusText(const WString& text)
{
    const bool shown = !text.empty();
    if (text != status_) {
        status_ = text;
        if (busy_ && shown == barShown_ && !PaintDue()) {
            // Even setting the text costs a trip to the window server; the
            // next paint sets and draws it, and the line shows what it holds.
            statusPending_ = true;
            return;
        }
        SetControlText(window_.Get(), Row(kForm1Label1), text.c_str());
        statusPending_ = false;
    }
    if (shown != barShown_) {
        barShown_ = shown;
        ShowWindow(Item(kForm1ProgressBar1), shown ? SW_SHOW : SW_HIDE);
        ShowWindow(Item(kForm1TimeLabel), shown ? SW_SHOW : SW_HIDE);
    }
    // At once, the window too: a shorter status uncovers part of it.
    Paint();
}

void TForm1::SetLongText(const WString& text)
{
    SetControlText(window_.Get(), Row(kForm1LongLabel), text.c_str());
    Paint();
}

void TForm1::BeginBusy()
{
    SetTimer(window_.Get(), kTimer1, kTimer1Interval, nullptr);
    EnableWindow(Item(kForm1Button1), TRUE);
    BusyStart = NowInDays();
    busy_ = true;
}

void TForm1::EndBusy()
{
    busy_ = false;
    KillTimer(window_.Get(), kTimer1);
    EnableWindow(Item(kForm1Button1), FALSE);
    SetControlText(window_.Get(), Row(kForm1TimeLabel), L"");
    // Whatever the busy period left undrawn.
    Paint();
}

bool TForm1::PaintDue() const { return GetTickCount() - paintedAt_ >= kPaintInterval; }

void TForm1::Paint()
{
    if (statusPending_) {
        statusPending_ = false;
        SetControlText(window_.Get(), Row(kForm1Label1), status_.c_str());
    }
    if (barPosition_ != position_) {
        barPosition_ = position_;
        SendMessageW(Item(kForm1ProgressBar1), PBM_SETPOS, static_cast<WPARAM>(position_), 0);
    }
    UpdateWindow(window_.Get());
    paintedAt_ = GetTickCount();
}

void TForm1::SetCaption(const WString& caption) { SetWindowTextW(window_.Get(), caption.c_str()); }

void TForm1::ShowMode(int mode)
{
    const wchar_t* name = mode == 0 ? L"MAINICON" : mode == 1 ? L"UNINSTALL" : nullptr;
    if (name && mode != iconMode_) {
        iconMode_ = mode;
        icon_ = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
        SendMessageW(Item(kForm1Image1), STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
    }
    if (!IsWindowVisible(window_.Get()))
        FormShow();
    ShowWindow(window_.Get(), SW_SHOW);
    SetForegroundWindow(window_.Get());
    BringWindowToTop(window_.Get());
    Paint();
}

void TForm1::Hide() { ShowWindow(window_.Get(), SW_HIDE); }

void TForm1::Button1Click() { AbortRequested = true; }

void TForm1::Timer1Timer()
{
    std::optional<double> left = EstimateTimeLeft(position_, minimum_, maximum_, BusyStart, NowInDays());
    if (!left)
        return;
    SetControlText(window_.Get(), Row(kForm1TimeLabel),
                   (L"Estimated time left: " + TimeOfDayText(ClockTimeOf(*left))).c_str());
}

bool TForm1::FormCloseQuery()
{
    // A close while busy is a press of Abort; otherwise it is refused.
    if (IsWindowEnabled(Item(kForm1Button1)))
        Button1Click();
    return MayClose;
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return FormWindowProc<TForm1>(window, message, wParam, lParam);
}

LRESULT TForm1::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kForm1Button1 && HIWORD(wParam) == BN_CLICKED)
            Button1Click();
        // IDOK and IDCANCEL (Enter, Escape) do nothing here.
        return 0;
    case WM_TIMER:
        if (wParam == kTimer1)
            Timer1Timer();
        return 0;
    case WM_CLOSE:
        if (FormCloseQuery())
            Hide();
        return 0;
    case WM_QUERYENDSESSION:
        return FormCloseQuery() ? TRUE : FALSE;
    default:
        break;
    }
    return DefDlgProcW(window, message, wParam, lParam);
}
