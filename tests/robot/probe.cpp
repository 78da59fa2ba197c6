// probe.exe: a known program for the rig's own tests.
//   probe.exe box STYLE CAPTION|- TEXT   message box (style in hex; "-" = no
//                                        caption); exit code = the answer
//   probe.exe owned STYLE TEXT           the same box owned by a window "Owner"
//   probe.exe spawn MS PROGRAM ARGS...   starts PROGRAM, waits MS, exits 3
//                                        without waiting for it
//   probe.exe window                     a window "Probe" (see below)
//   probe.exe boxes N STYLE TEXT         N boxes one after another, text
//                                        "TEXT i"; exit code = the answers
//                                        as decimal digits (1, 2 -> 12)
//   probe.exe exit CODE [ANY...]         exits with CODE at once
//   probe.exe codepages                  writes "ACP OEMCP" (GetACP(),
//                                        GetOEMCP()) to stdout, exits 0
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

enum { kLabel = 100, kProgress = 101, kGo = 102, kEdit = 103 };

HWND g_label;
WNDPROC g_editProc;
bool g_watched;

// The robot asks an edit field for its text with a message, so the probe
// knows when its window was first read: its state changes only 300 ms
// after that, never before the robot's first look, however late that comes.
LRESULT CALLBACK WatchedEditProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    if (msg == WM_GETTEXT && !g_watched) {
        g_watched = true;
        SetTimer(GetParent(h), 1, 300, nullptr);
    }
    return CallWindowProcA(g_editProc, h, msg, w, l);
}

LRESULT CALLBACK ProbeProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    switch (msg) {
    case WM_TIMER:
        // The Go button starts disabled so rules that wait for an enabled
        // button can be tested; the timer starts at the robot's first look.
        KillTimer(h, 1);
        EnableWindow(GetDlgItem(h, kGo), TRUE);
        SetWindowTextA(g_label, "Ready");
        return 0;
    case WM_COMMAND:
        if (LOWORD(w) == kGo || LOWORD(w) == IDOK) {
            SetWindowTextA(g_label, "Pressed");
            PostQuitMessage(LOWORD(w) == kGo ? 7 : 8);
        } else if (LOWORD(w) == IDCANCEL) {
            PostQuitMessage(11);
        }
        return 0;
    case WM_CLOSE:
        PostQuitMessage(9);
        return 0;
    }
    return DefWindowProcA(h, msg, w, l);
}

int RunWindow()
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "ProbeWindow";
    RegisterClassA(&wc);
    HWND top = CreateWindowA("ProbeWindow", "Probe", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 100, 100, 320, 200,
                             nullptr, nullptr, wc.hInstance, nullptr);
    g_label = CreateWindowA("STATIC", "Waiting", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, top,
                            reinterpret_cast<HMENU>(kLabel), wc.hInstance, nullptr);
    HWND bar = CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 40, 200, 20, top,
                             reinterpret_cast<HMENU>(kProgress), wc.hInstance, nullptr);
    SendMessageA(bar, PBM_SETRANGE32, 0, 10);
    SendMessageA(bar, PBM_SETPOS, 3, 0);
    HWND go = CreateWindowA("BUTTON", "&Go", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED, 10, 70, 80, 24,
                            top, reinterpret_cast<HMENU>(kGo), wc.hInstance, nullptr);
    CreateWindowA("BUTTON", "Hidden", WS_CHILD, 100, 70, 80, 24, top, nullptr, wc.hInstance, nullptr);
    HWND edit = CreateWindowA("EDIT", "watched", WS_CHILD | WS_VISIBLE | ES_READONLY, 10, 100, 200, 20, top,
                              reinterpret_cast<HMENU>(kEdit), wc.hInstance, nullptr);
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedEditProc)));
    ShowWindow(top, SW_SHOW);
    SetFocus(go);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(top, &m))
            continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    DestroyWindow(top);
    return static_cast<int>(m.wParam);
}

int Spawn(int argc, char** argv)
{
    std::string cmd;
    for (int i = 3; i < argc; ++i)
        cmd += std::string(i > 3 ? " " : "") + "\"" + argv[i] + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 2;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    return 3;
}

} // namespace

int main(int argc, char** argv)
{
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "box" && argc == 5) {
        UINT style = static_cast<UINT>(std::strtoul(argv[2], nullptr, 16));
        const char* caption = std::string(argv[3]) == "-" ? nullptr : argv[3];
        return MessageBoxA(nullptr, argv[4], caption, style);
    }
    if (what == "owned" && argc == 4) {
        HWND owner = CreateWindowA("STATIC", "Owner", WS_POPUP | WS_VISIBLE | WS_CAPTION, 50, 50, 200, 100, nullptr,
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
        int rc = MessageBoxA(owner, argv[3], "Owned", static_cast<UINT>(std::strtoul(argv[2], nullptr, 16)));
        DestroyWindow(owner);
        return rc;
    }
    if (what == "spawn" && argc >= 4)
        return Spawn(argc, argv);
    if (what == "window")
        return RunWindow();
    if (what == "boxes" && argc == 5) {
        int code = 0;
        for (int i = 1; i <= std::atoi(argv[2]); ++i) {
            std::string text = std::string(argv[4]) + " " + std::to_string(i);
            code = code * 10 + MessageBoxA(nullptr, text.c_str(), "Boxes",
                                           static_cast<UINT>(std::strtoul(argv[3], nullptr, 16)));
        }
        return code;
    }
    if (what == "exit" && argc >= 3)
        return std::atoi(argv[2]);
    if (what == "codepages") {
        std::printf("%u %u\n", GetACP(), GetOEMCP());
        return 0;
    }
    std::fputs("usage: see probe.cpp\n", stderr);
    return 2;
}
