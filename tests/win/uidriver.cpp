// Calls the user-interface operations in the order given on its command
// line, the way an installation or a removal calls them, and reports each
// call's outcome on standard output. For the end-to-end window tests.
//
//   uidriver OPERATION ARGS... [OPERATION ARGS...]...
//
//   show MODE            GuiShow           caption TEXT     GuiSetCaption
//   status TEXT LONG     GuiSetStatus      range POS MAX MIN GuiSetRange
//   busy ON              GuiSetBusy        step COUNT       GuiStep
//   hide                 GuiHide           license NAME FILE GuiLicense
//   pause MS             GuiStep(0) for MS milliseconds (messages processed)
//   work N MS            N times GuiStep(1), MS milliseconds apart
//   waitfile PATH        writes PATH.ready, then processes messages until
//                        PATH exists (to look at the windows meanwhile)
//
// GuiInit comes first and GuiDone last. Each line of output is the
// operation's name and "ok", the message of the error it raised, or for
// license "accepted" / "declined". Exit code 0, or 2 for a bad command line.
// Texts are taken from the wide command line, as the stub takes its own.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "loader/CommandLine.h"
#include "services/Services.h"
#include "services/SetupError.h"
#include "ui/uGUI.h"

namespace {

void Report(const char* operation, const std::string& outcome)
{
    printf("%s: %s\n", operation, outcome.c_str());
    fflush(stdout);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// The driver reports the first error of an operation as it ends: GuiStep's
// error is thrown up to there.
void Check(SetupError error)
{
    if (error)
        throw std::move(error);
}

// GuiStep(0) every 20 ms until done() says so; the first error is reported,
// later ones are the same request again.
template <class Done>
void ProcessUntil(const char* operation, Done done)
{
    std::string outcome = "ok";
    while (!done()) {
        if (SetupError error = GuiStep(0))
            outcome = EncodeUtf8(error.Message()).c_str();
        // Woken at once by a message, so the robot's reads of our controls
        // are answered without delay.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    Report(operation, outcome);
}

// One operation at argv[i]; returns the index after its arguments, or 0 for
// an unknown operation or missing arguments.
int RunOne(int i)
{
    auto arg = [&](int k) { return std::string(__argv[i + k]); };
    // The stub's own splitter, which splits as the runtime split __argv.
    static const Arguments wide = SplitCommandLine(GetCommandLineW());
    auto text = [&](int k) { return wide[static_cast<size_t>(i + k)]; };
    auto has = [&](int count) { return i + count < __argc; };
    std::string op = arg(0);
    try {
        if (op == "show" && has(1)) {
            GuiShow(static_cast<GuiMode>(atoi(__argv[i + 1])));
        } else if (op == "hide") {
            GuiHide();
        } else if (op == "caption" && has(1)) {
            GuiSetCaption(text(1));
        } else if (op == "status" && has(2)) {
            GuiSetStatus(text(1), text(2));
        } else if (op == "range" && has(3)) {
            GuiSetRange(atoi(__argv[i + 1]), atoi(__argv[i + 2]), atoi(__argv[i + 3]));
        } else if (op == "busy" && has(1)) {
            GuiSetBusy(atoi(__argv[i + 1]));
        } else if (op == "step" && has(1)) {
            Check(GuiStep(atoi(__argv[i + 1])));
        } else if (op == "license" && has(2)) {
            // The system's code page for a file without a BOM, as a package
            // without a record has it.
            Report("license", GuiLicense(text(1), text(2), 0) ? "accepted" : "declined");
            return i + 3;
        } else if (op == "pause" && has(1)) {
            DWORD start = GetTickCount();
            DWORD ms = static_cast<DWORD>(atoi(__argv[i + 1]));
            ProcessUntil("pause", [&] { return GetTickCount() - start >= ms; });
            return i + 2;
        } else if (op == "waitfile" && has(1)) {
            std::string path = arg(1);
            Touch(path + ".ready");
            ProcessUntil("waitfile", [&] { return Exists(path); });
            return i + 2;
        } else if (op == "work" && has(2)) {
            int count = atoi(__argv[i + 1]);
            DWORD ms = static_cast<DWORD>(atoi(__argv[i + 2]));
            for (int n = 0; n < count; ++n) {
                Check(GuiStep(1));
                Sleep(ms);
            }
        } else {
            return 0;
        }
        Report(op.c_str(), "ok");
    } catch (const SetupError& e) {
        Report(op.c_str(), EncodeUtf8(e.Message()).c_str());
    }
    int arity = op == "show" || op == "caption" || op == "busy" || op == "step" ? 1
              : op == "status" || op == "work"                                  ? 2
              : op == "range"                                                   ? 3
                                                                                : 0;
    return i + 1 + arity;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    Report("init", GuiInit("") ? "ok" : "failed");
    int result = 0;
    for (int i = 1; i < __argc;) {
        int next = RunOne(i);
        if (next == 0) {
            Report(__argv[i], "unknown operation or missing arguments");
            result = 2;
            break;
        }
        i = next;
    }
    GuiDone();
    return result;
}
