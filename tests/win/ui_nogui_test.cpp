// The road without windows: built with the uGUI of the stub_nogui variant,
// whose GuiCreate fails as a window that cannot be created does.
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

    // The start-up sequence may call these right after GuiInit.
    ASSERT_NE(GuiOperations.GuiShow, nullptr);
    ASSERT_NE(GuiOperations.GuiSetRange, nullptr);
    GuiShow(0);
    GuiSetStatus("Starting...", "text");
    GuiSetCaption("Setup");
    GuiSetRange(5, 10, 0);
    GuiSetBusy(1);
    EXPECT_NO_THROW(GuiStep(1));
    GuiSetBusy(0);
    GuiHide();
    EXPECT_EQ(GuiOwnerWindow(), nullptr);
    EXPECT_FALSE(GuiLicense("Demo", "C:\\license.txt"));

    GuiDone(); // inactive: nothing to do
    EXPECT_FALSE(GuiActive());
    EXPECT_FALSE(GuiInit("")); // and again: still no windows
    EXPECT_FALSE(GuiActive());
}
