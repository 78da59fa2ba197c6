#include "ui/uGUI.h"

TGuiOperations GuiOperations = {};

namespace {
int gActive = 0;
} // namespace

bool GuiActive() { return gActive != 0; }

bool GuiInit(const char*)
{
    // The library path is not used: the built-in windows always serve.
    if (GuiActive())
        return false;
    gActive = 1;
    try {
        GuiOperations = BuiltinGuiOperations();
        GuiOperations.GuiCreate();
        return true;
    } catch (...) {
        // No windows: the run goes on with plain message boxes.
        GuiDone();
        return false;
    }
}

void GuiDone()
{
    if (!GuiActive())
        return;
    // The state is reset however GuiDestroy ends; its error goes on.
    struct Reset {
        ~Reset()
        {
            gActive = 0;
            GuiOperations.GuiCreate = nullptr;
            GuiOperations.GuiDestroy = nullptr;
        }
    } reset;
    if (GuiOperations.GuiDestroy)
        GuiOperations.GuiDestroy();
}

HWND GuiMessageOwner() { return GuiActive() ? GuiOperations.GuiOwnerWindow() : nullptr; }
