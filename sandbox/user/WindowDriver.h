#pragma once
// Plays the person at the screen: starts the uninstaller, answers its boxes, watches the
// progress window's labels and tries to close it, reads the final message and its icon.
#include <windows.h>

#include <functional>
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

// One change of one label, seen in the look numbered look, at tick (GetTickCount, after the
// labels were read); the look before, which began at previousTick, did not see it yet. Changes
// seen in one look happened in an order nobody saw.
struct LabelChange {
    DWORD tick = 0;
    LabelState label;
    unsigned look = 0;
    DWORD previousTick = 0;
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
    // Started with the filtered token an administrator's programs get under UAC, as Programs
    // and Features starts an uninstaller.
    bool limitedToken = false;
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
    unsigned looks = 0;                    // at the progress window's labels
    DWORD lastLookTick = 0;                // when the last look began
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

// A program that should show no window at all, watched until it ends.
struct WindowWatch {
    bool started = false;
    bool exited = false;
    bool timedOut = false;
    DWORD exitCode = 0xFFFFFFFF;
    DWORD elapsedMs = 0;                  // from the process's creation to its exit
    std::vector<std::string> windowsSeen; // class and caption of each one a person could see
};
// Starts the program and looks at the top-level windows every few milliseconds until it ends:
// every visible window and every dialog, shown or not, of the program, and every visible
// window of another process that was not there before it started, is noted once.
WindowWatch RunWatchingWindows(const RunOptions& options);
// The same for whatever runs until ended() says it is over (processes started by others, such
// as a logon's): every visible window that was not there before is noted once.
WindowWatch WatchWindowsUntil(const std::function<bool()>& ended, DWORD timeoutMs);

// For holding a program at a box while something else happens.
bool StartProgram(const RunOptions& options, PROCESS_INFORMATION& process);
// The process's first visible message box; null when none came within the limit or it ended.
HWND WaitForMessageBox(const PROCESS_INFORMATION& process, DWORD timeoutMs);
// Waits for the process to end, then closes its handles; one still running after the limit is
// ended and the answer is false.
bool WaitForExit(PROCESS_INFORMATION& process, DWORD timeoutMs, DWORD& exitCode);

// The pieces the run is made of, for other drivers.
std::vector<HWND> WindowsOf(DWORD process); // the process's top-level windows
std::vector<HWND> DialogsOf(DWORD process); // the process's top-level dialogs
bool IsMessageBox(HWND dialog);             // has the message text control 0xFFFF
std::string WindowText(HWND window);
std::string ClassOf(HWND window);
void Press(HWND box, int id); // clicks the box's button id

// Text form of a run, for the demo and for failed tests.
std::string DescribeRun(const RunResult& run);
