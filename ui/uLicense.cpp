#include "ui/uLicense.h"

#include <vector>

#include "services/Services.h"
#include "services/Text.h"
#include "services/Win32.h"
#include "ui/LicenseText.h"

namespace {

constexpr int kClientWidth = 401;
constexpr int kClientHeight = 329;

const wchar_t kIntroduction[] =
    L"Please read carefully the following License Agreement before proceed with installation. You have to "
    L"understand and agree with this License Agreement's terms and conditions in order to continue.";

// clang-format off
const ControlLayout kLayout[] = {
    // id           class     text                                      style                           ex                left top  width height
    {kForm2Image1,  L"STATIC", L"",                                      SS_ICON,                        0,                 8,  12,  32,  32},
    {kForm2Label1,  L"STATIC", kIntroduction,                           SS_LEFT | SS_NOPREFIX,          0,                52,   8, 341,  45},
    {kForm2Memo1,   L"EDIT",   L"",                                      ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP,
                                                                                                        WS_EX_CLIENTEDGE,  8,  56, 385, 229},
    {kForm2Button1, L"BUTTON", L"&Yes",                                  BS_PUSHBUTTON | WS_TABSTOP,     0,               240, 296,  73,  25},
    {kForm2Button2, L"BUTTON", L"&No",                                   BS_PUSHBUTTON | WS_TABSTOP,     0,               320, 296,  73,  25},
    {kForm2Label2,  L"STATIC", L"Do you accept this License Agreement?", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0,                8, 300,   0,  13},
};
// clang-format on

// By the messages that GetWindowTextLengthW and GetWindowTextW send to a
// window of this process: the same answer, two imports fewer.
WString WindowText(HWND window)
{
    const auto length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    WString text;
    const auto got = static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length) + 1,
                                                   reinterpret_cast<LPARAM>(text.Resize(static_cast<size_t>(length)))));
    text.Resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

// The whole file, or false when it cannot be opened or read.
bool ReadWholeFile(const WString& path, String& content)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
    RegisterDialogClass(L"TForm2", WindowProc);
    FormCreate();
    window_.Reset(CreateDialogWindow(L"TForm2", L"License", kDialogExStyle, kClientWidth, kClientHeight, this));
    if (!window_.Get() || !CreateControls(window_.Get(), kLayout, sizeof kLayout / sizeof kLayout[0],
                                          static_cast<HFONT>(font_.Get()))) {
        window_.Reset();
        return;
    }
    TrimSystemMenu(window_.Get());
    // No limit of its own: a text too large for the control fails to load.
    SendMessageW(Item(kForm2Memo1), EM_SETLIMITTEXT, 0, 0);
}

TForm2::~TForm2() { window_.Reset(); }

void TForm2::FormCreate() { font_.Reset(CreateDialogFont()); }

void TForm2::SetCaption(const WString& caption) { SetWindowTextW(window_.Get(), caption.c_str()); }

void TForm2::LoadLicense(const WString& path, uint16_t codePage)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    HWND memo = Item(kForm2Memo1);
    String content;
    if (ReadWholeFile(path, content) &&
        SetWindowTextW(memo, WithCrLfBreaks(DecodeLicense(content, DecodeText, codePage)).c_str()))
        return;
    WString line = WFormat("The license file \"%s\" is corrupted.", {path});
    SetWindowTextW(memo, WithLineAdded(WindowText(memo), line).c_str());
}

void TForm2::FormShow(HICON progressIcon)
{
    icon_.Reset(progressIcon ? CopyIcon(progressIcon) : nullptr);
    SendMessageW(Item(kForm2Image1), STM_SETICON, reinterpret_cast<WPARAM>(icon_.Get()), 0);
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
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(kForm2Button2)), TRUE);
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        // The dialog manager selected the whole text when it first focused
        // the text box, which scrolled it to the end: back to the top.
        HWND memo = Item(kForm2Memo1);
        SendMessageW(memo, EM_SETSEL, 0, 0);
        SendMessageW(memo, WM_VSCROLL, SB_TOP, 0);
        MSG msg;
        while (modalResult_ == 0) {
            BOOL got = GetMessageW(&msg, nullptr, 0, 0);
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
    return DefDlgProcW(window, message, wParam, lParam);
}
