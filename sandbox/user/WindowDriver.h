#pragma once
// Plays the person at the screen: starts the uninstaller, answers its boxes, watches the
// progress window's labels and tries to close it, reads the final message and its icon.
#include <windows.h>

#include <string>
#include <vector>

struct LabelState {
    int id = 0;
    std::string text;
    bool visible = false;
    bool enabled = false;
    bool operator==(const LabelState& other) const {
        return id == other.id && text == other.text && visible == other.visible &&
               enabled == other.enabled;
    }
};

// One change of one label, seen at tick (GetTickCount).
struct LabelChange {
    DWORD tick = 0;
    LabelState label;
};

struct MessageBoxSeen {
    bool seen = false;
    std::string caption;
    std::string text;
    int icon = 0; // MB_ICON* flag, 0 when unknown
    std::vector<int> buttons;
    DWORD tick = 0;
};

struct RunOptions {
    std::string commandLine;     // the whole command line, program name included
    std::string applicationPath; // may be empty: taken from the command line
    std::string currentDirectory;
    bool answerYes = true;
    bool tryToClose = true;   // close command, Alt+F4 and Escape at the progress window
    DWORD timeoutMs = 120000; // for the whole run
};

struct RunResult {
    bool started = false;
    DWORD startTick = 0;  // just before the process was created
    DWORD answerTick = 0; // when the confirmation was answered
    MessageBoxSeen confirmation;
    bool progressSeen = false;
    std::string progressCaption;
    std::vector<LabelState> initialLabels; // as first seen
    std::vector<LabelChange> changes;      // every later change, in order
    std::vector<LabelState> finalLabels;   // when the final box appeared
    bool closeAttempted = false;
    bool progressOpenAfterClose = false;
    MessageBoxSeen final;
    bool progressVisibleBehindFinal = false;
    DWORD dismissTick = 0;
    bool exited = false;
    DWORD exitCode = 0xFFFFFFFF;
    bool timedOut = false;
    std::vector<std::string> notes; // anything unexpected
};

RunResult RunUninstaller(const RunOptions& options);

// The pieces the run is made of, for other drivers.
std::vector<HWND> DialogsOf(DWORD process); // the process's top-level dialogs
bool IsMessageBox(HWND dialog);             // has the message text control 0xFFFF
void Press(HWND box, int id);               // clicks the box's button id

// Text form of a run, for the demo and for failed tests.
std::string DescribeRun(const RunResult& run);
