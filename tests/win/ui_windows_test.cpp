// The user-interface operations and both windows, in process under Wine:
// what a user would see after each operation, and what keys and close
// requests do.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/Services.h"
#include "services/SetupError.h"
#include "tests/win/FileHelpers.h"
#include "ui/Estimate.h"
#include "ui/uGUI.h"
#include "ui/uLicense.h"
#include "ui/uSetup.h"

namespace {

// The interface up for one test, down again however the test ends.
struct GuiUp {
    GuiUp() { ok = GuiInit(""); }
    ~GuiUp() { GuiDone(); }
    bool ok;
};

HWND Progress() { return GuiMessageOwner(); }
HWND License() { return FindWindowA("TForm2", nullptr); }
HWND Item(HWND window, int id) { return GetDlgItem(window, id); }

// As the window holds it, in UTF-8.
std::string Text(HWND window)
{
    wchar_t buffer[4096] = {};
    GetWindowTextW(window, buffer, 4096);
    return U(WString(buffer));
}
std::string Text(int id) { return Text(Item(Progress(), id)); }
// The control's own visibility flag (IsWindowVisible also needs the parent).
bool Shown(int id) { return (GetWindowLongA(Item(Progress(), id), GWL_STYLE) & WS_VISIBLE) != 0; }

struct Bar {
    int minimum, maximum, position;
};
Bar ReadBar()
{
    HWND bar = Item(Progress(), kForm1ProgressBar1);
    return Bar{static_cast<int>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)),
               static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)),
               static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0))};
}

RECT ClientRectOf(HWND control)
{
    RECT rc{};
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

// The message of the error the next GuiStep gives, or "" when none.
std::string StepError(int count)
{
    SetupError error = GuiStep(count);
    EXPECT_EQ(static_cast<bool>(error), !error.Message().empty());
    return EncodeUtf8(error.Message()).c_str();
}

const char kAborted[] = "Operation aborted by user";
// Cyrillic, CJK and Latin with an accent: no single ANSI code page has them all.
const char kMixed[] = "Иван 表計算 café";

// Actions run one after another from a thread timer, i.e. from inside the
// license window's modal loop. When they leave the window open, it is
// declined so the test does not hang, and the test fails.
std::vector<std::function<void()>> gActions;
size_t gNext = 0;
UINT_PTR gTimer = 0;
bool gLeftOpen = false;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (gNext < gActions.size()) {
        gActions[gNext++]();
        return;
    }
    KillTimer(nullptr, gTimer);
    gTimer = 0;
    if (HWND window = License(); window && IsWindowVisible(window)) {
        gLeftOpen = true;
        PostMessageA(Item(window, kForm2Button2), BM_CLICK, 0, 0);
    }
}

bool LicenseWith(const std::string& name, const std::string& file, std::vector<std::function<void()>> actions,
                 uint16_t codePage = 0)
{
    gActions = std::move(actions);
    gNext = 0;
    gLeftOpen = false;
    gTimer = SetTimer(nullptr, 0, 150, Tick);
    bool accepted = GuiLicense(W(name).c_str(), W(file).c_str(), codePage);
    if (gTimer)
        KillTimer(nullptr, gTimer);
    gTimer = 0;
    if (gLeftOpen)
        ADD_FAILURE() << "the license window stayed open";
    return accepted;
}

// Keys through the system's input queue, as typed.
void Keys(std::initializer_list<WORD> down)
{
    std::vector<INPUT> inputs;
    for (WORD key : down) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        inputs.push_back(in);
    }
    for (auto it = down.end(); it != down.begin();) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *--it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::string TempFile(const char* name, const std::string& content)
{
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::string MemoText() { return Text(Item(License(), kForm2Memo1)); }

} // namespace

TEST(GuiLifecycle, InitDoneAndOwner)
{
    EXPECT_FALSE(GuiActive());
    EXPECT_EQ(GuiMessageOwner(), nullptr);
    GuiDone(); // inactive: nothing to do
    EXPECT_FALSE(GuiActive());

    ASSERT_TRUE(GuiInit(""));
    EXPECT_TRUE(GuiActive());
    HWND first = GuiMessageOwner();
    ASSERT_NE(first, nullptr);
    HWND license = License();
    ASSERT_NE(license, nullptr);
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_FALSE(IsWindowVisible(license));

    // A second GuiInit changes nothing.
    EXPECT_FALSE(GuiInit("ignored.dll"));
    EXPECT_TRUE(GuiActive());
    EXPECT_EQ(GuiMessageOwner(), first);
    EXPECT_TRUE(IsWindow(first));

    GuiDone();
    EXPECT_FALSE(GuiActive());
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(license));
    EXPECT_EQ(GuiMessageOwner(), nullptr);
    EXPECT_EQ(GuiOperations.GuiCreate, nullptr);
    EXPECT_EQ(GuiOperations.GuiDestroy, nullptr);
    GuiDone(); // twice: no second destruction
    EXPECT_FALSE(GuiActive());

    // Slots 3 to 11 stay filled, and the built-in operations do nothing
    // without their windows, called through the table or not.
    ASSERT_NE(GuiOperations.GuiStep, nullptr);
    EXPECT_EQ(StepError(1), "");
    EXPECT_TRUE(GuiOperations.GuiStep(1));
    GuiOperations.GuiSetStatus(L"x", L"y");
    GuiOperations.GuiShow(0);
    GuiShow(GuiMode::Install);
    EXPECT_EQ(GuiOperations.GuiOwnerWindow(), nullptr);
    EXPECT_FALSE(GuiOperations.GuiLicense(L"Demo", L"C:\\nothing.txt", 0));
    EXPECT_FALSE(GuiLicense(L"Demo", L"C:\\nothing.txt", 0));
    EXPECT_EQ(License(), nullptr);

    // After GuiDone, new windows.
    ASSERT_TRUE(GuiInit(""));
    EXPECT_TRUE(IsWindow(GuiMessageOwner()));
    GuiDone();
}

TEST(ProgressWindow, InitialStateAndLayout)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    HWND window = Progress();
    EXPECT_EQ(Text(window), "Setup");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 381);
    EXPECT_EQ(client.bottom, 130);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    struct Row {
        int id;
        const char* cls;
        const char* text;
        int left, top, width, height; // width -1: sized to the text
    } rows[] = {
        {kForm1Image1, "Static", "", 12, 12, 32, 32},
        {kForm1LongLabel, "Static", "", 64, 16, 305, 57},
        {kForm1Label1, "Static", "     ", 12, 78, -1, 13},
        {kForm1ProgressBar1, "msctls_progress32", "", 12, 96, 273, 15},
        {kForm1Button1, "Button", "&Abort", 296, 96, 75, 25},
        {kForm1TimeLabel, "Static", "     ", 12, 116, -1, 13},
    };
    for (const Row& row : rows) {
        HWND control = Item(window, row.id);
        ASSERT_NE(control, nullptr) << row.id;
        char cls[64] = {};
        GetClassNameA(control, cls, sizeof cls);
        EXPECT_STRCASEEQ(cls, row.cls) << row.id;
        EXPECT_EQ(Text(control), row.text) << row.id;
        RECT rc = ClientRectOf(control);
        EXPECT_EQ(rc.left, row.left) << row.id;
        EXPECT_EQ(rc.top, row.top) << row.id;
        if (row.width >= 0)
            EXPECT_EQ(rc.right - rc.left, row.width) << row.id;
        else
            EXPECT_GT(rc.right - rc.left, 0) << row.id;
        EXPECT_EQ(rc.bottom - rc.top, row.height) << row.id;
    }
    Bar bar = ReadBar();
    EXPECT_EQ(bar.minimum, 0);
    EXPECT_EQ(bar.maximum, 1);
    EXPECT_EQ(bar.position, 0);
    EXPECT_FALSE(IsWindowEnabled(Item(window, kForm1Button1)));
    EXPECT_EQ(SendMessageA(Item(window, kForm1Image1), STM_GETICON, 0, 0), 0);

    // The font: "MS Shell Dlg" at 8 points, a 13-pixel line at 96 dpi.
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(Item(window, kForm1Label1), WM_GETFONT, 0, 0));
    LOGFONTA lf{};
    ASSERT_TRUE(GetObjectA(font, sizeof lf, &lf));
    EXPECT_STREQ(lf.lfFaceName, "MS Shell Dlg");
    EXPECT_EQ(lf.lfHeight, -11);
}

TEST(ProgressWindow, ShowPlacementAndIcons)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    HWND window = Progress();
    GuiOperations.GuiShow(2); // first showing with mode 2: shown, still no icon
    EXPECT_TRUE(IsWindowVisible(window));
    HWND image = Item(window, kForm1Image1);
    EXPECT_EQ(SendMessageA(image, STM_GETICON, 0, 0), 0);

    RECT rc{};
    GetWindowRect(window, &rc);
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    EXPECT_EQ(rc.left, (1024 - width) / 2);
    EXPECT_EQ(rc.top, (768 - height) / 2 - 142);

    GuiShow(GuiMode::Uninstall);
    LRESULT uninstall = SendMessageA(image, STM_GETICON, 0, 0);
    EXPECT_NE(uninstall, 0);
    GuiShow(GuiMode::Install);
    LRESULT main = SendMessageA(image, STM_GETICON, 0, 0);
    EXPECT_NE(main, 0);
    EXPECT_NE(main, uninstall);
    GuiOperations.GuiShow(7); // keeps the icon
    EXPECT_EQ(SendMessageA(image, STM_GETICON, 0, 0), main);

    // Moved away and shown again without hiding: stays where it is.
    SetWindowPos(window, nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    GuiShow(GuiMode::Install);
    GetWindowRect(window, &rc);
    EXPECT_EQ(rc.left, 5);
    // Hidden and shown again: placed again.
    GuiHide();
    EXPECT_FALSE(IsWindowVisible(window));
    GuiShow(GuiMode::Install);
    GetWindowRect(window, &rc);
    EXPECT_EQ(rc.left, (1024 - width) / 2);
}

TEST(ProgressWindow, StatusAndLongText)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    GuiShow(GuiMode::Install);
    GuiSetCaption(L"Uninstall");
    EXPECT_EQ(Text(Progress()), "Uninstall");
    // Characters of any script, whatever the ANSI code page holds.
    GuiSetCaption(W(kMixed).c_str());
    EXPECT_EQ(Text(Progress()), kMixed);

    struct Step {
        const char* status;
        const char* longText;
        const char* label1;
        const char* longLabel;
        bool barShown;
    } steps[] = {
        {"Starting...", "", "Starting...", "", true},
        {"Copying files...", "Setup copies the files.", "Copying files...", "Setup copies the files.", true},
        {"", "", "", "Setup copies the files.", false},            // empty status hides, long text stays
        {"", "Done for now.", "", "Done for now.", false},
        {"Removing...", "", "Removing...", "Done for now.", true}, // empty long text keeps the old one
        {"A&B", "x & y", "A&B", "x & y", true},
        {kMixed, kMixed, kMixed, kMixed, true},
    };
    for (const Step& s : steps) {
        GuiSetStatus(W(s.status).c_str(), W(s.longText).c_str());
        EXPECT_EQ(Text(kForm1Label1), s.label1) << s.status;
        EXPECT_EQ(Text(kForm1LongLabel), s.longLabel) << s.status;
        EXPECT_EQ(Shown(kForm1ProgressBar1), s.barShown) << s.status;
        EXPECT_EQ(Shown(kForm1TimeLabel), s.barShown) << s.status;
        EXPECT_TRUE(Shown(kForm1Label1));
    }
    // The status line grows with its text.
    GuiSetStatus(L"x", L"");
    RECT narrow = ClientRectOf(Item(Progress(), kForm1Label1));
    GuiSetStatus(L"a much longer status line than before", L"");
    RECT wide = ClientRectOf(Item(Progress(), kForm1Label1));
    EXPECT_GT(wide.right, narrow.right);
}

TEST(ProgressWindow, RangeAndSteps)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    GuiShow(GuiMode::Install);
    struct Case {
        const char* what;
        std::function<void()> act;
        Bar expected;
    } cases[] = {
        {"range 5, 10, 0", [] { GuiSetRange(5, 10, 0); }, {0, 10, 5}},
        {"step 0 moves nothing", [] { EXPECT_EQ(StepError(0), ""); }, {0, 10, 5}},
        {"step 3", [] { EXPECT_EQ(StepError(3), ""); }, {0, 10, 8}},
        {"step past the maximum", [] { EXPECT_EQ(StepError(100), ""); }, {0, 10, 10}},
        {"a range above 65535", [] { GuiSetRange(70000, 5000000, 0); }, {0, 5000000, 70000}},
        {"steps in it", [] { EXPECT_EQ(StepError(4000000), ""); }, {0, 5000000, 4070000}},
        {"a new minimum above the old maximum", [] { GuiSetRange(7000000, 9000000, 6000000); }, {6000000, 9000000, 7000000}},
        {"a huge step does not wrap", [] { EXPECT_EQ(StepError(2147483647), ""); }, {6000000, 9000000, 9000000}},
    };
    for (const Case& c : cases) {
        c.act();
        Bar bar = ReadBar();
        EXPECT_EQ(bar.minimum, c.expected.minimum) << c.what;
        EXPECT_EQ(bar.maximum, c.expected.maximum) << c.what;
        EXPECT_EQ(bar.position, c.expected.position) << c.what;
    }
    // Busy, files in quick succession are drawn together; the end of the
    // busy period shows the last status and step exactly.
    GuiSetRange(0, 100, 0);
    GuiSetBusy(1);
    for (int i = 1; i <= 50; ++i) {
        GuiSetStatus(W("Installing f" + std::to_string(i) + ".txt...").c_str(), L"");
        EXPECT_EQ(StepError(1), "");
    }
    GuiSetBusy(0);
    EXPECT_EQ(ReadBar().position, 50);
    EXPECT_EQ(Text(kForm1Label1), "Installing f50.txt...");
}

TEST(ProgressWindow, AbortAndCloseRequests)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    HWND window = Progress();
    HWND abort = Item(window, kForm1Button1);
    GuiShow(GuiMode::Install);
    GuiSetStatus(L"Copying...", L"");
    GuiSetRange(0, 100, 0);

    // Idle: a close request and a log-off query are refused, nothing else.
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(StepError(1), "");
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), FALSE);
    EXPECT_EQ(StepError(1), "");
    // Escape and Enter do nothing either.
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(StepError(0), "");

    // Busy: Abort is enabled; two presses give an error at the next step and
    // at every one after it; the step itself still counts.
    GuiSetBusy(1);
    EXPECT_TRUE(IsWindowEnabled(abort));
    PostMessageA(abort, BM_CLICK, 0, 0);
    PostMessageA(abort, BM_CLICK, 0, 0);
    EXPECT_EQ(StepError(1), kAborted);
    EXPECT_EQ(ReadBar().position, 3);
    EXPECT_EQ(StepError(0), kAborted);
    EXPECT_EQ(StepError(1), kAborted);
    EXPECT_EQ(ReadBar().position, 4);

    // Showing the already visible window keeps the request; hiding and
    // showing clears it.
    GuiShow(GuiMode::Install);
    EXPECT_EQ(StepError(0), kAborted);
    GuiHide();
    GuiShow(GuiMode::Install);
    EXPECT_EQ(StepError(0), "");

    // A close request while busy is an abort; the window stays.
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(StepError(0), kAborted);
    EXPECT_TRUE(IsWindowVisible(window));
    GuiHide();
    GuiShow(GuiMode::Install);
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), FALSE);
    EXPECT_EQ(StepError(0), kAborted);

    // Idle again: Abort disabled, the time line emptied.
    GuiSetBusy(0);
    EXPECT_FALSE(IsWindowEnabled(abort));
    EXPECT_EQ(Text(kForm1TimeLabel), "");
}

TEST(ProgressWindow, AbortByKeyboard)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    GuiShow(GuiMode::Install);
    GuiSetBusy(1);
    SetForegroundWindow(Progress());
    EXPECT_EQ(StepError(0), "");
    Keys({VK_MENU, 'A'});
    DWORD start = GetTickCount();
    std::string error;
    while (error.empty() && GetTickCount() - start < 3000) {
        error = StepError(0);
        Sleep(20);
    }
    EXPECT_EQ(error, kAborted);
}

TEST(ProgressWindow, EstimateLine)
{
    char format[80] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, format, sizeof format);
    if (std::string(format) != "h:mm:ss tt")
        GTEST_SKIP() << "expects the en-US long time format, the locale has " << format;

    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    HWND window = Progress();
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    ASSERT_NE(form, nullptr);
    GuiShow(GuiMode::Install);
    GuiSetStatus(L"Copying...", L"");
    GuiSetRange(0, 10, 0);
    GuiSetBusy(1);
    auto tickAfter = [&](double seconds) {
        form->BusyStart = NowInDays() - seconds / kSecondsPerDay;
        SendMessageA(window, WM_TIMER, 1, 0);
        return Text(kForm1TimeLabel);
    };
    EXPECT_EQ(tickAfter(60), "     "); // at the minimum: the old text stays
    EXPECT_EQ(StepError(5), "");
    EXPECT_EQ(tickAfter(4), "     "); // in the first seconds: nothing yet
    EXPECT_EQ(tickAfter(20), "Estimated time left: 12:00:20 AM");
    EXPECT_EQ(StepError(2), "");
    EXPECT_EQ(tickAfter(3), "Estimated time left: 12:00:20 AM");
    EXPECT_EQ(tickAfter(7 * 3600 + 60), "Estimated time left: 3:00:25 AM"); // (10/7 - 1) x 7:01:00
    EXPECT_EQ(StepError(100), "");
    EXPECT_EQ(tickAfter(30), "Estimated time left: 12:00:00 AM");
    // Hidden by an empty status, the line is still kept up to date.
    GuiSetRange(5, 10, 0);
    GuiSetStatus(L"", L"");
    EXPECT_EQ(tickAfter(50), "Estimated time left: 12:00:50 AM");
    EXPECT_FALSE(Shown(kForm1TimeLabel));
    // A new busy period keeps the text until the next estimate.
    GuiSetBusy(0);
    EXPECT_EQ(Text(kForm1TimeLabel), "");
    tickAfter(50);
    GuiSetBusy(1);
    EXPECT_EQ(Text(kForm1TimeLabel), "Estimated time left: 12:00:50 AM");
}

TEST(LicenseWindow, LayoutTitleAndAnswers)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    HWND window = License();
    EXPECT_EQ(Text(window), "License");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 401);
    EXPECT_EQ(client.bottom, 329);
    EXPECT_EQ(Text(Item(window, kForm2Label1)),
              "Please read carefully the following License Agreement before proceed with installation. You have to "
              "understand and agree with this License Agreement's terms and conditions in order to continue.");
    EXPECT_EQ(Text(Item(window, kForm2Label2)), "Do you accept this License Agreement?");
    EXPECT_EQ(Text(Item(window, kForm2Button1)), "&Yes");
    EXPECT_EQ(Text(Item(window, kForm2Button2)), "&No");
    struct Row {
        int id, left, top, width, height;
    } rows[] = {{kForm2Image1, 8, 12, 32, 32},     {kForm2Label1, 52, 8, 341, 45},
                {kForm2Memo1, 8, 56, 385, 229},    {kForm2Button1, 240, 296, 73, 25},
                {kForm2Button2, 320, 296, 73, 25}};
    for (const Row& row : rows) {
        RECT rc = ClientRectOf(Item(window, row.id));
        EXPECT_EQ(rc.left, row.left) << row.id;
        EXPECT_EQ(rc.top, row.top) << row.id;
        EXPECT_EQ(rc.right - rc.left, row.width) << row.id;
        EXPECT_EQ(rc.bottom - rc.top, row.height) << row.id;
    }
    LONG memoStyle = GetWindowLongA(Item(window, kForm2Memo1), GWL_STYLE);
    EXPECT_TRUE(memoStyle & ES_READONLY);
    EXPECT_TRUE(memoStyle & WS_VSCROLL);
    EXPECT_FALSE(memoStyle & (WS_HSCROLL | ES_AUTOHSCROLL));

    std::string longText = "first line\nsecond line\n\nlast line";
    for (int i = 0; i < 40; ++i)
        longText += "\nmore terms";
    std::string file = TempFile("ui_license_lf.txt", longText);
    GuiShow(GuiMode::Install);
    HWND progress = Progress();
    HWND focusAtOpen = nullptr;
    bool progressEnabled = true;
    RECT placed{};
    LRESULT iconCopy = 0;
    LRESULT firstLine = -1;
    bool accepted = LicenseWith("Demo", file,
                                {[&] {
                                     focusAtOpen = GetFocus();
                                     firstLine = SendMessageA(Item(License(), kForm2Memo1), EM_GETFIRSTVISIBLELINE, 0, 0);
                                     progressEnabled = IsWindowEnabled(progress);
                                     GetWindowRect(License(), &placed);
                                     iconCopy = SendMessageA(Item(License(), kForm2Image1), STM_GETICON, 0, 0);
                                 },
                                 [] { Keys({VK_ESCAPE}); }, // does nothing
                                 [] { Keys({VK_MENU, 'Y'}); }});
    EXPECT_TRUE(accepted);
    EXPECT_EQ(focusAtOpen, Item(window, kForm2Button2));
    EXPECT_EQ(firstLine, 0); // the text is shown from its start
    EXPECT_FALSE(progressEnabled);
    EXPECT_TRUE(IsWindowEnabled(progress));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(placed.left, (1024 - (placed.right - placed.left)) / 2);
    EXPECT_EQ(placed.top, (768 - (placed.bottom - placed.top)) / 2);
    EXPECT_NE(iconCopy, 0);
    EXPECT_EQ(Text(window), "Demo License");
    EXPECT_EQ(MemoText().substr(0, 38), "first line\r\nsecond line\r\n\r\nlast line\r\n");
    EXPECT_EQ(MemoText().size(), 36 + 40 * 12u);

    struct Answer {
        const char* what;
        std::function<void()> act;
        bool accepted;
    } answers[] = {
        {"Enter at once", [] { Keys({VK_RETURN}); }, false},
        {"No clicked", [] { PostMessageA(Item(License(), kForm2Button2), BM_CLICK, 0, 0); }, false},
        {"Yes clicked", [] { PostMessageA(Item(License(), kForm2Button1), BM_CLICK, 0, 0); }, true},
        {"close box", [] { PostMessageA(License(), WM_SYSCOMMAND, SC_CLOSE, 0); }, false},
        {"Alt+F4", [] { Keys({VK_MENU, VK_F4}); }, false},
        {"Tab to Yes, Enter", [] { Keys({VK_SHIFT, VK_TAB}); }, true},
    };
    for (Answer& a : answers) {
        std::vector<std::function<void()>> actions{a.act};
        if (std::string(a.what) == "Tab to Yes, Enter")
            actions.push_back([] { Keys({VK_RETURN}); });
        EXPECT_EQ(LicenseWith("Demo", file, actions), a.accepted) << a.what;
    }
}

TEST(LicenseWindow, TitlesAndFiles)
{
    GuiUp gui;
    ASSERT_TRUE(gui.ok);
    auto decline = [] { PostMessageA(Item(License(), kForm2Button2), BM_CLICK, 0, 0); };

    // No progress icon shown yet: the license window's image stays empty.
    LRESULT icon = 1;
    LicenseWith("Demo", "C:\\no such license.txt",
                {[&] { icon = SendMessageA(Item(License(), kForm2Image1), STM_GETICON, 0, 0); }, decline});
    EXPECT_EQ(icon, 0);
    EXPECT_EQ(Text(License()), "Demo License");
    EXPECT_EQ(MemoText(), "");

    std::string longName(250, 'n');
    LicenseWith(longName, "C:\\no such license.txt", {decline});
    EXPECT_EQ(Text(License()), longName + " Lice");

    // A file locked by another opener: only the corrupted-file line.
    std::string locked = TempFile("ui_license_locked.txt", "terms");
    HANDLE lock = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    bool accepted = LicenseWith("Demo", locked, {[] { PostMessageA(Item(License(), kForm2Button1), BM_CLICK, 0, 0); }});
    CloseHandle(lock);
    EXPECT_TRUE(accepted);
    const std::string corrupted = "The license file \"" + locked + "\" is corrupted.";
    EXPECT_EQ(MemoText(), corrupted + "\r\n");

    // A readable file replaces it; a missing file or a folder keeps it.
    std::string good = TempFile("ui_license_good.txt", "Terms\r\nand conditions");
    LicenseWith("Demo", good, {decline});
    EXPECT_EQ(MemoText(), "Terms\r\nand conditions");
    LicenseWith("Demo", "C:\\no such license.txt", {decline});
    EXPECT_EQ(MemoText(), "Terms\r\nand conditions");
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    LicenseWith("Demo", folder, {decline});
    EXPECT_EQ(MemoText(), "Terms\r\nand conditions");

    // Locked now: the line goes below the text there is.
    lock = CreateFileA(good.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LicenseWith("Demo", good, {decline});
    CloseHandle(lock);
    EXPECT_EQ(MemoText(), "Terms\r\nand conditions\r\nThe license file \"" + good + "\" is corrupted.");

    // An empty file empties the box.
    std::string empty = TempFile("ui_license_empty.txt", "");
    LicenseWith("Demo", empty, {decline});
    EXPECT_EQ(MemoText(), "");

    // Each encoding read back exactly: a BOM says UTF-8 or UTF-16LE, without
    // one the package's code page decides, and no record means the
    // system's ANSI code page, as before.
    auto utf16le = [](const std::string& utf8) {
        std::string bytes = "\xFF\xFE";
        WString text = W(utf8);
        for (size_t i = 0; i < text.size(); ++i) {
            bytes += static_cast<char>(text[i] & 0xFF);
            bytes += static_cast<char>(text[i] >> 8);
        }
        return bytes;
    };
    const std::string mixedLines = std::string(kMixed) + "\nsecond\rthird";
    const std::string mixedShown = std::string(kMixed) + "\r\nsecond\r\nthird";
    struct Encoded {
        const char* what;
        std::string bytes;
        uint16_t codePage;
        std::string shown;
    } encodings[] = {
        {"BOM UTF-8", "\xEF\xBB\xBF" + mixedLines, 1251, mixedShown},
        {"BOM UTF-16LE", utf16le(mixedLines), 1251, mixedShown},
        {"no BOM: the package's code page", "\xC8\xE2\xE0\xED\n\xEF\xF0\xE0\xE2\xE0", 1251, "Иван\r\nправа"},
        {"no BOM: a package in UTF-8", mixedLines, 65001, mixedShown},
        {"no BOM, no record: the ANSI code page", "caf\xE9\n", 0, GetACP() == 1252 ? "café\r\n" : ""},
    };
    std::string encoded = TempFile("ui_license_encoded.txt", "");
    for (const Encoded& e : encodings) {
        if (e.shown.empty()) {
            ADD_FAILURE() << e.what << ": written for ANSI code page 1252, the system has " << GetACP();
            continue;
        }
        TempFile("ui_license_encoded.txt", e.bytes);
        LicenseWith(kMixed, encoded, {decline}, e.codePage);
        EXPECT_EQ(MemoText(), e.shown) << e.what;
        EXPECT_EQ(Text(License()), std::string(kMixed) + " License") << e.what;
    }

    for (const std::string& path : {locked, good, empty, encoded})
        DeleteFileA(path.c_str());
}
