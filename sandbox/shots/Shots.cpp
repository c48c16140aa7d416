// The screenshot driver: runs the uninstaller once and holds it still at the moments worth a
// picture, so that a script outside Wine can take them.
// shots.exe SIGNAL_DIRECTORY POSE...   with POSE one of confirm, progress, elevated, final
// At each pose named it writes SIGNAL_DIRECTORY\<pose>.ready holding the screen rectangle to
// take ("x y width height") and waits for SIGNAL_DIRECTORY\<pose>.done. The pictures must show
// the uninstaller's own timing, so it is never sped up: the progress pose suspends the
// uninstaller's main thread (the window thread goes on painting) and resumes it afterwards.
// The elevated pose starts the uninstaller with the filtered token an administrator's programs
// get under UAC, and is taken while the elevated copy doing the machine's part is held in its
// restore point request (SANDBOX_SR_HOLD names SIGNAL_DIRECTORY\elevated.release, which this
// program makes once the picture is taken).
// The command line comes from SANDBOX_COMMAND_LINE, as for user.exe.
#include "sandbox/user/WindowDriver.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

const DWORD pollMs = 20;
const DWORD limitMs = 60000;

std::vector<HWND> VisibleDialogs(DWORD process) {
    std::vector<HWND> visible;
    for (HWND dialog : DialogsOf(process)) {
        if (IsWindowVisible(dialog))
            visible.push_back(dialog);
    }
    return visible;
}

HWND FindMessageBox(DWORD process) {
    for (HWND dialog : VisibleDialogs(process)) {
        if (IsMessageBox(dialog))
            return dialog;
    }
    return nullptr;
}

HWND FindProgress(DWORD process) {
    for (HWND dialog : VisibleDialogs(process)) {
        if (!IsMessageBox(dialog) && GetDlgItem(dialog, 1007) != nullptr)
            return dialog;
    }
    return nullptr;
}

bool Shown(HWND progress, int id) {
    return (GetWindowLongA(GetDlgItem(progress, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

// Polls until test() holds; false after the limit.
template <typename Test> bool WaitFor(Test test) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < limitMs; Sleep(pollMs)) {
        if (test())
            return true;
    }
    return false;
}

// Makes sure the window's thread has painted what it was told before the picture.
void Settle(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

bool Pose(const std::string& directory, const char* pose, const std::vector<HWND>& windows) {
    RECT all;
    SetRectEmpty(&all);
    for (HWND window : windows) {
        Settle(window);
        RECT rect;
        GetWindowRect(window, &rect);
        UnionRect(&all, &all, &rect);
    }
    std::string ready = directory + "\\" + pose + ".ready";
    std::string done = directory + "\\" + pose + ".done";
    DeleteFileA(done.c_str());
    FILE* file = std::fopen((ready + ".tmp").c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "%ld %ld %ld %ld\n", all.left, all.top, all.right - all.left,
                 all.bottom - all.top);
    std::fclose(file);
    MoveFileA((ready + ".tmp").c_str(), ready.c_str()); // appears whole
    std::printf("shots: %s posed\n", pose);
    std::fflush(stdout);
    return WaitFor([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

// Whether a process that parent started is running.
bool HasChild(DWORD parent) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry))
        found = entry.th32ParentProcessID == parent;
    CloseHandle(snapshot);
    return found;
}

int Fail(const char* what) {
    std::fprintf(stderr, "shots: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Fail("usage: shots.exe SIGNAL_DIRECTORY POSE...");
    std::string directory = argv[1];
    std::set<std::string> poses(argv + 2, argv + argc);
    char commandLine[32768];
    DWORD length = GetEnvironmentVariableA("SANDBOX_COMMAND_LINE", commandLine, sizeof commandLine);
    if (length == 0 || length >= sizeof commandLine)
        return Fail("set SANDBOX_COMMAND_LINE to the uninstaller's command line");

    RunOptions options;
    options.commandLine = commandLine;
    options.limitedToken = poses.count("elevated") != 0;
    PROCESS_INFORMATION process;
    if (!StartProgram(options, process))
        return Fail("the uninstaller did not start");
    DWORD id = process.dwProcessId;

    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindMessageBox(id)) != nullptr; }))
        return Fail("no confirmation box");
    if (poses.count("confirm") && !Pose(directory, "confirm", {box}))
        return Fail("confirm: no picture taken");
    Press(box, IDYES);

    // One stage done, the next enabled, the rest still greyed.
    HWND progress = nullptr;
    if (!WaitFor([&] { return (progress = FindProgress(id)) != nullptr; }))
        return Fail("no progress window");
    if (poses.count("progress")) {
        if (!WaitFor([&] {
                return Shown(progress, 1004) && IsWindowEnabled(GetDlgItem(progress, 1001));
            }))
            return Fail("the first stage did not end");
        SuspendThread(process.hThread);
        bool taken = !Shown(progress, 1005) && Pose(directory, "progress", {progress});
        ResumeThread(process.hThread);
        if (!taken)
            return Fail("progress: no picture taken");
    }

    if (poses.count("elevated")) {
        if (!WaitFor([&] { return IsWindowEnabled(GetDlgItem(progress, 1001)) && HasChild(id); }))
            return Fail("no elevated copy");
        bool taken = Pose(directory, "elevated", {progress});
        FILE* release = std::fopen((directory + "\\elevated.release").c_str(), "w");
        if (release != nullptr)
            std::fclose(release);
        if (!taken)
            return Fail("elevated: no picture taken");
    }

    if (!WaitFor([&] { return (box = FindMessageBox(id)) != nullptr; }))
        return Fail("no final message");
    if (poses.count("final") && !Pose(directory, "final", {progress, box}))
        return Fail("final: no picture taken");
    Press(box, IDOK);

    if (WaitForSingleObject(process.hProcess, limitMs) != WAIT_OBJECT_0)
        return Fail("the uninstaller did not end");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
