// The run control's shared pieces under Wine: the places both sequences
// remove, the failure handler, the closing clean-up and the message boxes.
#include <windows.h>

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "tests/win/FileHelpers.h"
#include "loader/Messages.h"
#include "loader/Outcome.h"
#include "loader/Places.h"
#include "loader/RunControl.h"
#include "services/Services.h"
#include "services/SetupError.h"
#include "ui/uGUI.h"

namespace {

// Recorders for the interface slots: the table is plain function pointers,
// so a test swaps one in while the interface is up and puts it back after.
std::vector<std::pair<std::string, std::string>> g_statuses;
std::vector<int> g_busy;
void RecordStatus(const wchar_t* status, const wchar_t* longText)
{
    g_statuses.emplace_back(U(WString(status)), U(WString(longText)));
}
void RecordBusy(int on) { g_busy.push_back(on); }

class ActiveGui {
public:
    ActiveGui()
    {
        EXPECT_TRUE(GuiInit(""));
        saved_ = GuiOperations;
        GuiOperations.GuiSetStatus = RecordStatus;
        GuiOperations.GuiSetBusy = RecordBusy;
        g_statuses.clear();
        g_busy.clear();
    }
    ~ActiveGui()
    {
        GuiOperations.GuiSetStatus = saved_.GuiSetStatus;
        GuiOperations.GuiSetBusy = saved_.GuiSetBusy;
        GuiDone();
    }

private:
    TGuiOperations saved_{};
};

} // namespace

using RunFolders = Scratch;

TEST_F(RunFolders, RemoveInstallFoldersTakesOnlyEmptyOnes)
{
    // Empty install folder and empty company folder: both go.
    ASSERT_FALSE(EnsureFolder(Path("Example\\Viewer")));
    RemoveInstallFolders(W(Path("Example\\Viewer")), true);
    EXPECT_FALSE(Exists(Path("Example")));

    // A file left in the install folder keeps both.
    ASSERT_FALSE(EnsureFolder(Path("Example\\Viewer")));
    WriteAll(Path("Example\\Viewer\\keep"), "x");
    RemoveInstallFolders(W(Path("Example\\Viewer")), true);
    EXPECT_TRUE(Exists(Path("Example\\Viewer\\keep")));

    // Without a company folder the folder above stays, even when empty.
    ASSERT_FALSE(EnsureFolder(Path("Top\\Viewer")));
    RemoveInstallFolders(W(Path("Top\\Viewer")), false);
    EXPECT_FALSE(Exists(Path("Top\\Viewer")));
    EXPECT_TRUE(IsExistingFolder(Path("Top")));
}

TEST_F(RunFolders, FailureHandlerShowsTheFailureCleansUpAndPassesTheErrorOn)
{
    struct Case {
        const char* what;
        SetupError (*work)();
    };
    const Case cases[] = {
        {"Operation aborted by user", [] { return SetupError("Operation aborted by user"); }},
        {"Unable to create directory", [] { return EnsureFolder(WString()); }},
    };
    for (const Case& c : cases) {
        ActiveGui gui;
        int cleanUps = 0;
        SetupError caught = UnderFailureHandler(c.work, [&] { ++cleanUps; });
        EXPECT_TRUE(caught) << c.what;
        EXPECT_EQ(U(caught.Message()), c.what);
        EXPECT_EQ(cleanUps, 1) << c.what;
        EXPECT_EQ(g_busy, std::vector<int>{0}) << c.what;
        ASSERT_EQ(g_statuses.size(), 1u) << c.what;
        EXPECT_EQ(g_statuses[0].first, "Failed");
        EXPECT_EQ(g_statuses[0].second, "Setup operation was aborted with an exception. The error message is "
                                        "shown, and setup will exit now.");
    }

    // Work that succeeds shows nothing and cleans nothing up.
    ActiveGui gui;
    bool ran = false;
    int cleanUps = 0;
    EXPECT_FALSE(UnderFailureHandler(
        [&] {
            ran = true;
            return SetupError();
        },
        [&] { ++cleanUps; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(cleanUps, 0);
    EXPECT_TRUE(g_statuses.empty());
}

TEST_F(RunFolders, FinalCleanupTakesTheWindowsDownAndDeletesTemporaryFiles)
{
    TempFiles temp;
    ASSERT_FALSE(UniqueTempName(W(dir_), L".cab", temp.Cabinet, temp.CabinetPath, FILE_FLAG_DELETE_ON_CLOSE));
    bool created = false;
    ASSERT_FALSE(UniqueTempFolder(W(dir_), temp.LicenseFolder, created));
    ASSERT_TRUE(created);
    temp.LicensePath = temp.LicenseFolder + L"\\license.txt";
    WriteAll(U(temp.LicensePath), "x");
    WriteAll(Path("license.txt"), "someone else's, of the same name");
    ASSERT_TRUE(GuiInit(""));
    FinalCleanup(temp);
    EXPECT_FALSE(GuiActive());
    EXPECT_FALSE(temp.Cabinet.Valid());
    EXPECT_FALSE(Exists(U(temp.CabinetPath)));
    EXPECT_FALSE(Exists(U(temp.LicenseFolder)));
    EXPECT_EQ(ReadAll(Path("license.txt")), "someone else's, of the same name");

    TempFiles nothing; // no paths set: nothing to delete, nothing fails
    FinalCleanup(nothing);
}

namespace {
struct SeenBox {
    std::string caption, text;
    HWND owner = nullptr;
    int boxes = 0;
};
SeenBox g_box;
HHOOK g_hook = nullptr;

// Reads the box as it is activated, then answers it.
LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[32] = {};
        GetClassNameA(box, className, sizeof className);
        if (std::string(className) == "#32770") {
            char text[512] = {};
            GetWindowTextA(box, text, sizeof text);
            g_box.caption = text;
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            g_box.text = text;
            g_box.owner = GetWindow(box, GW_OWNER);
            ++g_box.boxes;
            PostMessageA(box, WM_COMMAND, IDYES, reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

SeenBox Show(const char* caption, const std::string& text, UINT style, int* answer)
{
    g_box = SeenBox();
    g_hook = SetWindowsHookExA(WH_CBT, WatchBoxes, nullptr, GetCurrentThreadId());
    *answer = ShowMessage(caption, W(text), style);
    UnhookWindowsHookEx(g_hook);
    return g_box;
}
} // namespace

TEST(Messages, OwnerAndCaptionFollowTheRun)
{
    int answer = 0;
    SeenBox before = Show(nullptr, "no mode yet", MB_YESNO, &answer);
    EXPECT_EQ(before.boxes, 1);
    EXPECT_EQ(answer, IDYES);
    EXPECT_EQ(before.text, "no mode yet");
    EXPECT_EQ(before.caption, "Error"); // the system's default for no caption
    EXPECT_EQ(before.owner, nullptr);

    ASSERT_TRUE(GuiInit(""));
    SeenBox during = Show(kUninstallCaption, "with mode", MB_YESNO | MB_ICONINFORMATION, &answer);
    EXPECT_EQ(during.caption, "Uninstall");
    EXPECT_EQ(during.owner, GuiOwnerWindow());
    EXPECT_NE(during.owner, nullptr);
    GuiDone();
}
