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
    GuiOperations = BuiltinGuiOperations();
    if (GuiOperations.GuiCreate())
        return true;
    // No windows: the run goes on with plain message boxes.
    GuiDone();
    return false;
}

void GuiDone()
{
    if (!GuiActive())
        return;
    if (GuiOperations.GuiDestroy)
        GuiOperations.GuiDestroy();
    gActive = 0;
    GuiOperations.GuiCreate = nullptr;
    GuiOperations.GuiDestroy = nullptr;
}

SetupError GuiStep(int count)
{
    if (GuiActive() && !GuiOperations.GuiStep(count))
        return SetupError("Operation aborted by user", true);
    return SetupError();
}

HWND GuiMessageOwner() { return GuiActive() ? GuiOperations.GuiOwnerWindow() : nullptr; }
