#include "ui/uLicense.h"

#include <vector>

#include "services/Text.h"
#include "services/Win32.h"
#include "ui/LicenseText.h"

namespace {

constexpr int kClientWidth = 401;
constexpr int kClientHeight = 329;

const char kIntroduction[] =
    "Please read carefully the following License Agreement before proceed with installation. You have to "
    "understand and agree with this License Agreement's terms and conditions in order to continue.";

// clang-format off
const ControlLayout kLayout[] = {
    // id           class     text                                      style                           ex                left top  width height
    {kForm2Image1,  "STATIC", "",                                       SS_ICON,                        0,                 8,  12,  32,  32},
    {kForm2Label1,  "STATIC", kIntroduction,                            SS_LEFT | SS_NOPREFIX,          0,                52,   8, 341,  45},
    {kForm2Memo1,   "EDIT",   "",                                       ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP,
                                                                                                        WS_EX_CLIENTEDGE,  8,  56, 385, 229},
    {kForm2Button1, "BUTTON", "&Yes",                                   BS_PUSHBUTTON | WS_TABSTOP,     0,               240, 296,  73,  25},
    {kForm2Button2, "BUTTON", "&No",                                    BS_PUSHBUTTON | WS_TABSTOP,     0,               320, 296,  73,  25},
    {kForm2Label2,  "STATIC", "Do you accept this License Agreement?",  SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0,                8, 300,   0,  13},
};
// clang-format on

String WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    String text;
    int got = GetWindowTextA(window, text.Resize(static_cast<size_t>(length)), length + 1);
    text.Resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

// The whole file, or false when it cannot be opened or read.
bool ReadWholeFile(const String& path, String& content)
{
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFF)
        return false;
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    return ReadBytes(file.Get(), content.Resize(length), length) == length;
}

// The program's other windows take no input while the license window is
// open; they get it back however the modal loop ends.
class ThreadWindowsDisabled {
public:
    explicit ThreadWindowsDisabled(HWND except) : except_(except)
    {
        EnumThreadWindows(GetCurrentThreadId(), Disable, reinterpret_cast<LPARAM>(this));
    }
    ~ThreadWindowsDisabled()
    {
        for (HWND window : disabled_)
            if (IsWindow(window))
                EnableWindow(window, TRUE);
    }
    ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
    ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

private:
    static BOOL CALLBACK Disable(HWND window, LPARAM param)
    {
        auto* self = reinterpret_cast<ThreadWindowsDisabled*>(param);
        if (window != self->except_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
            self->disabled_.push_back(window);
            EnableWindow(window, FALSE);
        }
        return TRUE;
    }

    HWND except_;
    std::vector<HWND> disabled_;
};

} // namespace

TForm2::TForm2()
{
    RegisterDialogClass("TForm2", WindowProc);
    FormCreate();
    window_.Reset(CreateDialogWindow("TForm2", "License", kDialogExStyle, kClientWidth, kClientHeight, this));
    if (!window_.Get() || !CreateControls(window_.Get(), kLayout, sizeof kLayout / sizeof kLayout[0],
                                          static_cast<HFONT>(font_.Get()))) {
        window_.Reset();
        return;
    }
    TrimSystemMenu(window_.Get());
    // No limit of its own: a text too large for the control fails to load.
    SendMessageA(Item(kForm2Memo1), EM_SETLIMITTEXT, 0, 0);
}

TForm2::~TForm2() { window_.Reset(); }

void TForm2::FormCreate() { font_.Reset(CreateDialogFont()); }

void TForm2::SetCaption(const String& caption) { SetWindowTextA(window_.Get(), caption.c_str()); }

void TForm2::LoadLicense(const String& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    HWND memo = Item(kForm2Memo1);
    String content;
    if (ReadWholeFile(path, content) && SetWindowTextA(memo, WithCrLfBreaks(content).c_str()))
        return;
    String line = Format("The license file \"%s\" is corrupted.", {path});
    SetWindowTextA(memo, WithLineAdded(WindowText(memo), line).c_str());
}

void TForm2::FormShow(HICON progressIcon)
{
    icon_.Reset(progressIcon ? CopyIcon(progressIcon) : nullptr);
    SendMessageA(Item(kForm2Image1), STM_SETICON, reinterpret_cast<WPARAM>(icon_.Get()), 0);
    RECT rc{};
    GetWindowRect(window_.Get(), &rc);
    int left = (GetSystemMetrics(SM_CXSCREEN) - (rc.right - rc.left)) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 2;
    SetWindowPos(window_.Get(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm2::ShowModal(HICON progressIcon)
{
    HWND window = window_.Get();
    modalResult_ = 0;
    FormShow(progressIcon);
    {
        ThreadWindowsDisabled others(window);
        // Through the dialog manager, so "&No" also becomes the button that
        // Enter presses; before the window shows, so that it never shows
        // with the focus anywhere else: the activation restores it there.
        SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(kForm2Button2)), TRUE);
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        // The dialog manager selected the whole text when it first focused
        // the text box, which scrolled it to the end: back to the top.
        HWND memo = Item(kForm2Memo1);
        SendMessageA(memo, EM_SETSEL, 0, 0);
        SendMessageA(memo, WM_VSCROLL, SB_TOP, 0);
        MSG msg;
        while (modalResult_ == 0) {
            BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                // Leave the quit request for the main loop; the question is
                // declined.
                PostQuitMessage(static_cast<int>(msg.wParam));
                modalResult_ = kLicenseDeclined;
            } else if (got == -1) {
                modalResult_ = kLicenseDeclined;
            } else {
                DispatchUiMessage(msg);
            }
        }
        // The other windows are enabled again before this one hides, so
        // that the activation goes back to them.
    }
    ShowWindow(window, SW_HIDE);
    return modalResult_;
}

LRESULT CALLBACK TForm2::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return FormWindowProc<TForm2>(window, message, wParam, lParam);
}

LRESULT TForm2::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kForm2Button1)
            modalResult_ = kLicenseAccepted;
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kForm2Button2)
            modalResult_ = kLicenseDeclined;
        // IDCANCEL (Escape) and IDOK do nothing.
        return 0;
    case WM_CLOSE:
        // The close box, Alt+F4 and the system menu decline.
        modalResult_ = kLicenseDeclined;
        return 0;
    case WM_CTLCOLORSTATIC:
        // The read-only text box in the dialog face colour, like the window.
        if (reinterpret_cast<HWND>(lParam) == Item(kForm2Memo1)) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    default:
        break;
    }
    return DefDlgProcA(window, message, wParam, lParam);
}
