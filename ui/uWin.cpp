#include "ui/uWin.h"


namespace {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

int ScreenDpi()
{
    // Read once: the density stays for the run, and each read costs a
    // device context (the status line sizes itself at every text).
    static int dpi = 0;
    if (dpi)
        return dpi;
    HDC screen = GetDC(nullptr);
    if (!screen)
        return 96;
    int read = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    dpi = read > 0 ? read : 96;
    return dpi;
}

// Layouts are in pixels at 96 dpi; at other densities they grow with the
// font, as dialog units do.
int Scaled(int pixels) { return MulDiv(pixels, ScreenDpi(), 96); }

bool IsOurWindow(HWND window)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return lstrcmpW(name, L"TForm1") == 0 || lstrcmpW(name, L"TForm2") == 0;
}

} // namespace

void RegisterDialogClass(const wchar_t* className, WNDPROC proc)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(Instance(), className, &existing))
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    // DefDlgProc keeps its state in these bytes.
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);
}

HWND CreateDialogWindow(const wchar_t* className, const wchar_t* title, DWORD exStyle, int clientWidth, int clientHeight,
                        void* param)
{
    RECT rc{0, 0, Scaled(clientWidth), Scaled(clientHeight)};
    AdjustWindowRectEx(&rc, kDialogStyle, FALSE, exStyle);
    return CreateWindowExW(exStyle, className, title, kDialogStyle, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                           nullptr, nullptr, Instance(), param);
}

HFONT CreateDialogFont()
{
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(8, ScreenDpi(), 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

bool CreateControls(HWND parent, const ControlLayout* rows, size_t count, HFONT font)
{
    for (size_t i = 0; i < count; ++i) {
        const ControlLayout& row = rows[i];
        HWND control = CreateWindowExW(row.ExStyle, row.ClassName, L"", WS_CHILD | WS_VISIBLE | row.Style,
                                       Scaled(row.Left), Scaled(row.Top), Scaled(row.Width), Scaled(row.Height), parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.Id)), Instance(), nullptr);
        if (!control)
            return false;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetControlText(parent, row, row.Text);
    }
    return true;
}

void SetControlText(HWND parent, const ControlLayout& row, const wchar_t* text)
{
    HWND control = GetDlgItem(parent, row.Id);
    SetWindowTextW(control, text);
    if (row.Width != 0)
        return;
    // Sized to the text, as a label that sizes itself; the window's edge
    // cuts what does not fit.
    SIZE size{0, 0};
    HDC dc = GetDC(control);
    if (dc) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
    }
    SetWindowPos(control, nullptr, 0, 0, size.cx, Scaled(row.Height), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TrimSystemMenu(HWND window)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    if (!menu)
        return;
    // Constant, so that it is no writable data section of its own.
    static const UINT kFixedSize[] = {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE};
    for (UINT command : kFixedSize)
        DeleteMenu(menu, command, MF_BYCOMMAND);
}

void DispatchUiMessage(MSG& msg)
{
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && IsOurWindow(root) && IsDialogMessageW(root, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void ProcessPendingMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        DispatchUiMessage(msg);
    }
}
