// The road without windows: built with stub_nogui's table of operations,
// whose GuiCreate fails as it does where no window can be created.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/uGUI.h"

TEST(GuiWithoutWindows, InitFailsAndEveryOperationDoesNothing)
{
    EXPECT_FALSE(GuiInit(""));
    EXPECT_FALSE(GuiActive());
    EXPECT_EQ(GuiMessageOwner(), nullptr);
    EXPECT_EQ(GuiOperations.GuiCreate, nullptr);
    EXPECT_EQ(GuiOperations.GuiDestroy, nullptr);
    EXPECT_EQ(FindWindowA("TForm1", nullptr), nullptr);
    EXPECT_EQ(FindWindowA("TForm2", nullptr), nullptr);

    // The operations do nothing while the interface is down.
    GuiShow(GuiMode::Install);
    GuiSetStatus(L"Starting...", L"text");
    GuiSetRange(5, 10, 0);
    EXPECT_FALSE(GuiStep(1));
    EXPECT_EQ(GuiOwnerWindow(), nullptr);
    EXPECT_FALSE(GuiLicense(L"Demo", L"C:\\license.txt", 0));
    EXPECT_EQ(FindWindowA("TForm1", nullptr), nullptr);

    GuiDone(); // inactive: nothing to do
    EXPECT_FALSE(GuiActive());
    EXPECT_FALSE(GuiInit("")); // and again: still no windows
    EXPECT_FALSE(GuiActive());
}
