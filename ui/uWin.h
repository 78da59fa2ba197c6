// What both windows share: the layout table that a window's controls are
// created from, and the dispatch of one message with the dialog keyboard
// (Tab, mnemonics, Enter on the focused button). Their windows, fonts and
// icons are owned as every resource is (services/Win32.h).
#pragma once
#include <windows.h>

#include "package/String.h"
#include "services/Win32.h"

// One row of a window's layout: pixels at 96 dpi, width 0 = sized to the
// text. Rows are created in order, which is also the tab order.
struct ControlLayout {
    int Id;
    const wchar_t* ClassName;
    const wchar_t* Text;
    DWORD Style; // WS_CHILD | WS_VISIBLE are added
    DWORD ExStyle;
    int Left, Top, Width, Height;
};

// The window style of both windows: a dialog frame with a close box, no
// minimise or maximise box, no sizing.
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;

// Registers (once) a Unicode window class run by the dialog manager, so
// that focus, Tab and the focused push button behave as in any dialog box.
void RegisterDialogClass(const wchar_t* className, WNDPROC proc);
// A hidden top-level window of that class with the given client size;
// nullptr on failure. param reaches WM_NCCREATE.
HWND CreateDialogWindow(const wchar_t* className, const wchar_t* title, DWORD exStyle, int clientWidth, int clientHeight,
                        void* param);
// "MS Shell Dlg" at 8 points for the screen's density.
HFONT CreateDialogFont();
// Creates every row as a child of parent with the font; false when one fails.
bool CreateControls(HWND parent, const ControlLayout* rows, size_t count, HFONT font);
// Sets a control's text and, for a row of width 0, sizes it to the text.
void SetControlText(HWND parent, const ControlLayout& row, const wchar_t* text);
// Removes sizing, minimise, maximise and restore from the system menu.
void TrimSystemMenu(HWND window);

// The object of a window made by CreateDialogWindow, or nullptr.
template <class T>
T* WindowObject(HWND window, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* object = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        return object;
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The window procedure of a form: finds the object the window belongs to and
// lets it handle the message.
template <class T>
LRESULT FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    T* form = WindowObject<T>(window, message, lParam);
    if (!form || message == WM_NCCREATE)
        return DefDlgProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return DefDlgProcW(window, message, wParam, lParam);
    }
    return form->HandleMessage(window, message, wParam, lParam);
}

// Dispatches one message; the keyboard of our windows goes through the
// dialog manager first.
void DispatchUiMessage(MSG& msg);
// Processes every waiting message. A WM_QUIT is put back for the main loop.
void ProcessPendingMessages();
