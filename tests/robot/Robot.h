// The test robot: watches the windows and processes of one Wine session,
// logs what a user would see, one JSON object per line, and answers message
// boxes and windows by rules.
#pragma once
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// --- text -----------------------------------------------------------------

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
std::string JsonString(const std::wstring& text);
// Button and label texts compare without their mnemonic ampersands and
// without regard to case: "&Yes" and "yes" name the same button.
std::wstring PlainLabel(const std::wstring& text);

// --- rules ----------------------------------------------------------------

// One line of the rules syntax: a kind ("box" or "window") and TAB-separated
// key=value fields. Values may use the escapes \t \r \n \\.
struct Rule {
    enum class Kind { Box, Window };
    enum class Action { Press, Key, Close };
    Kind kind = Kind::Box;
    Action action = Action::Press;
    std::wstring text;    // box: the box text contains it
    std::wstring title;   // window: the title contains it
    std::wstring when;    // window: some control's text contains it
    std::wstring button;  // press: the button's label
    std::wstring key;     // key: Enter, Escape, Tab, Space, Alt+X or one character
    bool sysClose = false; // close: SC_CLOSE instead of WM_CLOSE
    int count = -1;       // actions left; -1 = no limit
    DWORD delay = 0;      // ms the condition must hold before acting

    // Run time.
    std::map<HWND, DWORD> armedSince;
};

// Parses one rule; false with a reason for a line that is not one.
bool ParseRule(const std::wstring& line, Rule& rule, std::wstring& error);
