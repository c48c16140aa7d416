#include "sandbox/user/WindowDriver.h"

#include "sandbox/common/Layout.h"
#include "sandbox/user/Eyes.h"

#include <algorithm>
#include <cstdio>

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

namespace {

const char progressCaption[] = "Plendrax Uninstall Progress";
const int labelIds[] = {1000, 1004, 1001, 1005, 1002, 1006, 1003, 1007};

struct ProcessWindows {
    DWORD process;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<ProcessWindows*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == found->process)
        found->windows.push_back(window);
    return TRUE;
}

HWND IconControl(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Static" &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return nullptr;
}

// Asks the hook in the box's own process which system icon the box shows.
int IconOf(HWND box) {
    HWND icon = IconControl(box);
    if (icon == nullptr)
        return 0;
    static HMODULE eyes = LoadLibraryA(SANDBOX_DIRECTORY "SandboxEyes.dll");
    if (eyes == nullptr)
        return 0;
    auto hook =
        reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(eyes, "EyesHook")));
    HHOOK installed =
        SetWindowsHookExA(WH_CALLWNDPROC, hook, eyes, GetWindowThreadProcessId(box, nullptr));
    if (installed == nullptr)
        return 0;
    DWORD_PTR ignored;
    SendMessageTimeoutA(icon, RegisterWindowMessageA(EYES_QUERY_MESSAGE), 0, 0, SMTO_NORMAL, 5000,
                        &ignored);
    UnhookWindowsHookEx(installed);
    auto answer = reinterpret_cast<INT_PTR>(GetPropA(icon, EYES_ANSWER_PROPERTY));
    return answer == EYES_NO_ICON ? 0 : int(answer);
}

MessageBoxSeen ReadMessageBox(HWND box) {
    MessageBoxSeen seen;
    seen.seen = true;
    seen.tick = GetTickCount();
    seen.caption = WindowText(box);
    seen.text = WindowText(GetDlgItem(box, 0xFFFF));
    seen.icon = IconOf(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Button")
            seen.buttons.push_back(GetDlgCtrlID(child));
    }
    return seen;
}

// The dialog is seen while its controls are still being made: watch it only once all are.
bool AllLabelsExist(HWND progress) {
    for (int id : labelIds) {
        if (GetDlgItem(progress, id) == nullptr)
            return false;
    }
    return true;
}

std::vector<LabelState> ReadLabelsOnce(HWND progress) {
    std::vector<LabelState> labels;
    for (int id : labelIds) {
        LabelState label;
        label.id = id;
        HWND control = GetDlgItem(progress, id);
        if (control != nullptr) {
            label.text = WindowText(control);
            label.visible = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
            label.enabled = IsWindowEnabled(control) != FALSE;
        }
        labels.push_back(label);
    }
    return labels;
}

// The labels are read one after the other while the run changes them: a read that overlaps a
// change can see a later label changed and an earlier one not yet. Two reads in a row that
// agree saw one state, since every change is made once and stays; the run changes its labels
// a few times in all, so the reads soon agree.
std::vector<LabelState> ReadLabels(HWND progress) {
    std::vector<LabelState> labels = ReadLabelsOnce(progress);
    for (int tries = 0; tries < 20; ++tries) {
        std::vector<LabelState> again = ReadLabelsOnce(progress);
        if (again == labels)
            break;
        labels = std::move(again);
    }
    return labels;
}

void RecordChanges(RunResult& run, const std::vector<LabelState>& before,
                   const std::vector<LabelState>& now) {
    DWORD tick = GetTickCount();
    ++run.looks;
    for (size_t i = 0; i < now.size() && i < before.size(); ++i) {
        if (!(now[i] == before[i]))
            run.changes.push_back({tick, now[i], run.looks, run.lastLookTick});
    }
}

// The ways a person tries to close a window: the close box, Alt+F4 and Escape.
void TryToClose(HWND window) {
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_SYSKEYDOWN, VK_F4, 0x20000000);
    PostMessageA(window, WM_SYSKEYUP, VK_F4, 0xE0000000);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

} // namespace

std::vector<HWND> WindowsOf(DWORD process) {
    ProcessWindows found{process, {}};
    EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

std::vector<HWND> DialogsOf(DWORD process) {
    std::vector<HWND> dialogs;
    for (HWND window : WindowsOf(process)) {
        if (ClassOf(window) == "#32770")
            dialogs.push_back(window);
    }
    return dialogs;
}

bool IsMessageBox(HWND dialog) {
    HWND text = GetDlgItem(dialog, 0xFFFF);
    return text != nullptr && ClassOf(text) == "Static";
}

void Press(HWND box, int id) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

namespace {

// The token's linked one: for an administrator's full token, the filtered token that UAC gives
// the same administrator's programs unless they ask for elevation. Null when there is none.
HANDLE LimitedToken() {
    HANDLE token = nullptr, primary = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = sizeof linked;
    if (GetTokenInformation(token, TokenLinkedToken, &linked, size, &size)) {
        DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                         TokenPrimary, &primary);
        CloseHandle(linked.LinkedToken);
    }
    CloseHandle(token);
    return primary;
}

} // namespace

namespace {

// The desktop window, which Wine's explorer makes on the first window of a fresh prefix. Made
// here before the program starts, so that the two processes do not race to start explorer (a
// start that loses makes the program's first box fail, as if it had been answered No).
void WaitForDesktop() {
    static bool ready = false;
    for (DWORD start = GetTickCount(); !ready && GetTickCount() - start < 30000; Sleep(100)) {
        HWND desktop = GetDesktopWindow();
        ready = desktop != nullptr && GetWindowThreadProcessId(desktop, nullptr) != 0;
    }
}

} // namespace

bool StartProgram(const RunOptions& options, PROCESS_INFORMATION& process) {
    WaitForDesktop();
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    std::string commandLine = options.commandLine;
    const char* application =
        options.applicationPath.empty() ? nullptr : options.applicationPath.c_str();
    const char* directory =
        options.currentDirectory.empty() ? nullptr : options.currentDirectory.c_str();
    if (!options.limitedToken)
        return CreateProcessA(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              directory, &startup, &process) != FALSE;
    HANDLE limited = LimitedToken();
    if (limited == nullptr)
        return false;
    // Wine 8 once refused a start with the linked token with ERROR_INTERNAL_ERROR, in a fresh
    // prefix on a loaded machine; no process was made, so asking again is safe.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0)
            Sleep(500);
        started = CreateProcessAsUserA(limited, application, &commandLine[0], nullptr, nullptr,
                                       FALSE, 0, nullptr, directory, &startup, &process);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR)
            break;
    }
    DWORD error = GetLastError();
    CloseHandle(limited);
    SetLastError(error);
    return started != FALSE;
}

HWND WaitForMessageBox(const PROCESS_INFORMATION& process, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        for (HWND dialog : DialogsOf(process.dwProcessId)) {
            if (IsMessageBox(dialog) && IsWindowVisible(dialog))
                return dialog;
        }
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

bool WaitForExit(PROCESS_INFORMATION& process, DWORD timeoutMs, DWORD& exitCode) {
    bool exited = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (exited) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    process.hThread = process.hProcess = nullptr;
    return exited;
}

RunResult RunUninstaller(const RunOptions& options) {
    RunResult run;
    PROCESS_INFORMATION process;
    run.startTick = GetTickCount();
    run.started = StartProgram(options, process);
    if (!run.started) {
        run.notes.push_back("CreateProcess failed: " + std::to_string(GetLastError()));
        return run;
    }

    DWORD start = GetTickCount();
    HWND confirmation = nullptr;
    HWND progress = nullptr;
    std::vector<LabelState> last;
    while (!run.final.seen) {
        if (GetTickCount() - start > options.timeoutMs) {
            run.timedOut = true;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
        for (HWND dialog : DialogsOf(process.dwProcessId)) {
            if (WindowText(dialog) == progressCaption) {
                progress = dialog;
            } else if (IsMessageBox(dialog) && IsWindowVisible(dialog)) {
                if (confirmation == nullptr && progress == nullptr) {
                    confirmation = dialog;
                    run.confirmation = ReadMessageBox(dialog);
                    Press(dialog, options.answerYes ? IDYES : IDNO);
                    run.answerTick = GetTickCount();
                } else if (dialog != confirmation) {
                    if (progress != nullptr) {
                        run.finalLabels = ReadLabels(progress);
                        // Changes made since the last look belong to the timeline too.
                        if (run.progressSeen)
                            RecordChanges(run, last, run.finalLabels);
                        run.progressVisibleBehindFinal = IsWindowVisible(progress) != FALSE;
                        run.progressOpenAfterClose = IsWindow(progress) != FALSE;
                    }
                    run.final = ReadMessageBox(dialog);
                    run.dismissTick = GetTickCount();
                    Press(dialog, IDOK);
                    break;
                }
            }
        }
        if (progress != nullptr && !run.final.seen && IsWindow(progress) &&
            AllLabelsExist(progress)) {
            DWORD lookStart = GetTickCount();
            std::vector<LabelState> labels = ReadLabels(progress);
            if (!run.progressSeen) {
                run.progressSeen = true;
                run.progressCaption = WindowText(progress);
                run.initialLabels = labels;
            } else {
                RecordChanges(run, last, labels);
            }
            run.lastLookTick = lookStart;
            last = labels;
            if (options.tryToClose && !run.closeAttempted && IsWindowVisible(progress)) {
                TryToClose(progress);
                run.closeAttempted = true;
            }
        }
        Sleep(10);
    }

    DWORD elapsed = GetTickCount() - start;
    DWORD remaining = elapsed < options.timeoutMs ? options.timeoutMs - elapsed : 0;
    run.exited = WaitForExit(process, remaining, run.exitCode);
    run.timedOut = run.timedOut || !run.exited;
    return run;
}

namespace {

std::string Describe(const LabelState& label) {
    char line[300];
    snprintf(line, sizeof line, "%d \"%s\" %s %s", label.id, label.text.c_str(),
             label.visible ? "visible" : "hidden", label.enabled ? "enabled" : "greyed");
    return line;
}

const char* IconName(int icon) {
    switch (icon) {
    case MB_ICONHAND:
        return "stop";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONEXCLAMATION:
        return "exclamation";
    case MB_ICONASTERISK:
        return "information";
    default:
        return "none";
    }
}

void DescribeBox(std::string& out, const char* what, const MessageBoxSeen& box) {
    if (!box.seen) {
        out += std::string(what) + ": not shown\n";
        return;
    }
    out += std::string(what) + ": [" + box.caption + "] icon " + IconName(box.icon) + ", buttons";
    for (int button : box.buttons)
        out += " " + std::to_string(button);
    out += "\n  \"" + box.text + "\"\n";
}

} // namespace

std::string DescribeRun(const RunResult& run) {
    std::string out;
    DescribeBox(out, "confirmation", run.confirmation);
    if (run.progressSeen) {
        out += "progress window [" + run.progressCaption + "], at first:\n";
        for (const LabelState& label : run.initialLabels)
            out += "  " + Describe(label) + "\n";
        DWORD origin = run.changes.empty() ? 0 : run.changes.front().tick;
        for (const LabelChange& change : run.changes)
            out += "  +" + std::to_string(change.tick - origin) + " ms, look " +
                   std::to_string(change.look) + ": " + Describe(change.label) + "\n";
        if (run.closeAttempted)
            out += std::string("  tried to close it (close box, Alt+F4, Escape): ") +
                   (run.progressOpenAfterClose ? "it stayed open\n" : "it closed\n");
    } else {
        out += "progress window: not shown\n";
    }
    DescribeBox(out, "final message", run.final);
    if (run.final.seen)
        out += std::string("  progress window behind it: ") +
               (run.progressVisibleBehindFinal ? "visible" : "not visible") + "\n";
    if (run.exited)
        out += "exit code " + std::to_string(run.exitCode) + "\n";
    if (run.timedOut)
        out += "TIMED OUT\n";
    for (const std::string& note : run.notes)
        out += "note: " + note + "\n";
    return out;
}
