// Watching a program that should show no window at all, nor make another process show one.
#include "sandbox/user/WindowDriver.h"

#include <algorithm>
#include <functional>

namespace {

BOOL CALLBACK CollectAllWindows(HWND window, LPARAM parameter) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

std::vector<HWND> AllWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectAllWindows, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool Contains(const std::vector<HWND>& windows, HWND window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// Notes every window a person could see that was not there before, until ended() or the limit:
// visible windows, and dialogs of the process own (shown or not).
void Watch(WindowWatch& watch, const std::vector<HWND>& before, DWORD own,
           const std::function<bool()>& ended, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    std::vector<HWND> noted;
    for (;;) {
        for (HWND window : AllWindows()) {
            if (Contains(before, window) || Contains(noted, window))
                continue;
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == GetCurrentProcessId())
                continue;
            bool ownWindow = owner == own;
            bool seen = IsWindowVisible(window) || (ownWindow && ClassOf(window) == "#32770");
            if (!seen)
                continue;
            noted.push_back(window);
            watch.windowsSeen.push_back(ClassOf(window) + " \"" + WindowText(window) + "\"" +
                                        (ownWindow ? "" : " of process " + std::to_string(owner)));
        }
        if (ended())
            break;
        if (GetTickCount() - start > timeoutMs) {
            watch.timedOut = true;
            break;
        }
    }
}

} // namespace

WindowWatch RunWatchingWindows(const RunOptions& options) {
    WindowWatch watch;
    PROCESS_INFORMATION process;
    // What was on the screen before: a window that comes while the program runs is its doing,
    // whichever process shows it (Outlook started through COM shows its own).
    std::vector<HWND> before = AllWindows();
    watch.started = StartProgram(options, process);
    if (!watch.started)
        return watch;
    Watch(
        watch, before, process.dwProcessId,
        [&] { return WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0; },
        options.timeoutMs);
    FILETIME created, exited, kernel, user;
    if (!watch.timedOut && GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user)) {
        auto ticks = [](const FILETIME& time) {
            return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        watch.elapsedMs = DWORD((ticks(exited) - ticks(created)) / 10000);
    }
    watch.exited = WaitForExit(process, 5000, watch.exitCode);
    return watch;
}

WindowWatch WatchWindowsUntil(const std::function<bool()>& ended, DWORD timeoutMs) {
    WindowWatch watch;
    watch.started = true;
    Watch(
        watch, AllWindows(), 0,
        [&] {
            Sleep(5);
            return ended();
        },
        timeoutMs);
    watch.exited = !watch.timedOut;
    return watch;
}
