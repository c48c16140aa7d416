// Unattended removal end to end: the real UninstallPX.exe started with /quiet (and /log) in a
// sandbox prefix, watched by the sandbox user, who must never see a window of it. Each scenario
// is a test of its own in a fresh prefix.
#include <doctest.h>

#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"
#include "tests/e2e/UninstallerRun.h"
#include "tests/support/SandboxState.h"

#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string installDirectory = SANDBOX_INSTALL_DIRECTORY;
const std::string logs = "C:\\Logs\\";

const char Profile[] = R"(store "Personal Folders" id=0A0B0C0D
  folder "Inbox" type=0 id=00AA00
    item "IPM.Task.Plendrax"
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
    item "IPM.Task"
    item "IPM.Task.Plendrax"
    folder "Locked" type=3 id=00AA03 access=no
      item "IPM.Task.Plendrax"
store "Archive" id=0E0F1011
  folder "Old tasks" type=3 id=00BB01
    item "IPM.Task.Plendrax"
)";

// Every process counts as elevated under Wine: the system's Logs directory.
std::string DefaultLog() {
    char directory[MAX_PATH] = "";
    GetSystemWindowsDirectoryA(directory, sizeof directory);
    return std::string(directory) + "\\Logs\\UninstallPX.log";
}

// The Outlook stand-in with the profile above; records of earlier runs cleared.
void StageOutlook(bool extendedMapi, const std::string& profile = Profile) {
    RegisterOutlookStandin();
    SetExtendedMapi(extendedMapi);
    for (const char* log :
         {"outlook.log", "profile.out", "recorder.log", "srclient.log", "mapi32.log", "calls.log"})
        DeleteFileA((std::string(SANDBOX_LOG_DIRECTORY) + log).c_str());
    REQUIRE(CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", profile));
}

// Runs the staged uninstaller with tail while watching its windows; none may appear.
DWORD RunQuiet(const std::string& tail) {
    WindowWatch watch = RunWatchingWindows(Uninstaller(tail));
    CAPTURE(tail);
    REQUIRE(watch.started);
    CHECK_FALSE(watch.timedOut);
    REQUIRE(watch.exited);
    std::string seen;
    for (const std::string& window : watch.windowsSeen)
        seen += window + "; ";
    INFO("windows seen: ", seen);
    CHECK(watch.windowsSeen.empty());
    // Outlook's local server ends by itself, having written its part of the profile.
    CHECK(OutlookServersGone(2000));
    return watch.exitCode;
}

// Whether each of the product's traces, and what lies around them, is there.
std::vector<std::string> Traces() {
    std::vector<std::string> traces;
    auto note = [&](const std::string& what, bool present) {
        traces.push_back(what + (present ? ": present" : ": gone"));
    };
    for (const char* file : ProductFiles)
        note(installDirectory + file, FileExists(installDirectory + file));
    note(SANDBOX_INSTALL_DIRECTORY, FileExists(SANDBOX_INSTALL_DIRECTORY));
    note(SANDBOX_INSTALL_PARENT, FileExists(SANDBOX_INSTALL_PARENT));
    note(SANDBOX_UNINSTALL_KEY, KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    note(SANDBOX_SETTINGS_KEY, KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    note("Software\\Corvenhalde\\Plendrax",
         KeyExists(HKEY_CURRENT_USER, "Software\\Corvenhalde\\Plendrax"));
    note(SANDBOX_OTHER_PRODUCT_KEY,
         ValueExists(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY, "Licensee"));
    note(ShortcutIn(CSIDL_DESKTOPDIRECTORY), FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    note(ShortcutIn(CSIDL_COMMON_PROGRAMS), FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    std::string own = ShortcutIn(CSIDL_PROGRAMS);
    note(own, FileExists(own));
    note(SANDBOX_UNINSTALLER_DIRECTORY "UninstallPX.doc",
         FileExists(SANDBOX_UNINSTALLER_DIRECTORY "UninstallPX.doc"));
    return traces;
}

const std::vector<std::string> Installed = [] {
    std::vector<std::string> traces;
    for (const char* file : ProductFiles)
        traces.push_back(installDirectory + file + ": present");
    for (const std::string& other :
         {std::string(SANDBOX_INSTALL_DIRECTORY), std::string(SANDBOX_INSTALL_PARENT),
          std::string(SANDBOX_UNINSTALL_KEY), std::string(SANDBOX_SETTINGS_KEY),
          std::string("Software\\Corvenhalde\\Plendrax"), std::string(SANDBOX_OTHER_PRODUCT_KEY)})
        traces.push_back(other + ": present");
    return traces;
}();

// Nothing of the installation touched, no restore point, nothing started.
void CheckNothingTouched() {
    std::vector<std::string> traces = Traces();
    for (const std::string& trace : Installed)
        CHECK(CountContaining(traces, trace) == 1);
    CHECK(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    CHECK(ValueExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY, "TaskOrder"));
    CHECK(RestoreRequests().empty());
    CHECK(RecordedStarts().empty());
}

// The log's lines without their time stamps (which must be there, with their offset from UTC).
std::vector<std::string> LogEvents(const std::string& path) {
    std::string text = ReadWholeFile(path);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::vector<std::string> events;
    for (const std::string& line : SplitLines(text)) {
        CAPTURE(line);
        REQUIRE(line.size() > 30);
        CHECK(line[4] == '-');
        CHECK(line[19] == '.');
        CHECK((line[23] == '+' || line[23] == '-'));
        CHECK(line[26] == ':');
        events.push_back(line.substr(30));
    }
    return events;
}

// The log keeps one event on one line: a message's line feeds become blanks.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

size_t Count(const std::vector<std::string>& events, const std::string& event) {
    size_t count = 0;
    for (const std::string& line : events)
        count += line == event;
    return count;
}

// The lines that name each of the product's traces the run removed.
void CheckRemovalsLogged(const std::vector<std::string>& events) {
    for (const char* file : ProductFiles)
        CHECK(Count(events, "File " + installDirectory + file + ": removed") == 1);
    CHECK(Count(events, "Directory " SANDBOX_INSTALL_PARENT "\\Plendrax: removed") == 1);
    CHECK(Count(events, "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY ": removed") ==
          1);
    CHECK(Count(events, "Registry key HKEY_CURRENT_USER\\" SANDBOX_SETTINGS_KEY ": removed") == 1);
    CHECK(Count(events, "Shortcut " + ShortcutIn(CSIDL_DESKTOPDIRECTORY) + ": removed") == 1);
    CHECK(Count(events, "Shortcut " + ShortcutIn(CSIDL_COMMON_PROGRAMS) + ": removed") == 1);
}

// The stages started and ended in their order, each once.
void CheckStagesLogged(const std::vector<std::string>& events, const char* results[4]) {
    const char* names[] = {"Outlook conversion", "program files", "registry entries", "shortcuts"};
    std::vector<std::string> stages;
    for (const std::string& line : events)
        if (line.compare(0, 6, "Stage ") == 0)
            stages.push_back(line);
    std::vector<std::string> expected;
    for (int n = 0; n < 4; ++n) {
        std::string stage = "Stage " + std::to_string(n + 1) + " of 4, " + names[n] + ": ";
        expected.push_back(stage + "started");
        expected.push_back(stage + results[n]);
    }
    CHECK(stages == expected);
}

// The question, the labels in their order with their pauses, each stage's result (files is the
// program-files stage's label) and the final message that follows from them.
void CheckFullRunWindows(const RunResult& run, const std::string& files) {
    INFO(DescribeRun(run));
    CHECK(run.confirmation.text == UninstallerString(2));
    CHECK(run.confirmation.icon == MB_ICONQUESTION);
    bool failed = files != "Done";
    CHECK(run.final.text == UninstallerString(failed ? 3 : 5));
    CHECK(run.final.icon == (failed ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
    CHECK(run.progressVisibleBehindFinal);
    std::vector<int> order;
    std::vector<LabelChange> steps = LabelSteps(run);
    for (const LabelChange& step : steps)
        order.push_back(step.label.id);
    if (!order.empty() && order.front() == 1001)
        order.insert(order.begin(), 1004); // shown before the window was first looked at
    CHECK(order == std::vector<int>{1004, 1001, 1005, 1002, 1006, 1003, 1007});
    for (size_t n = 1; n + 1 < steps.size(); ++n) {
        if (steps[n].label.id < 1004 && steps[n + 1].label.id >= 1004) {
            // enable stage N, one second's pause, stage N's result
            CAPTURE(steps[n].label.id);
            CHECK(steps[n + 1].tick - steps[n].tick >= 900);
        }
    }
    for (const LabelState& label : run.finalLabels) {
        CAPTURE(label.id);
        if (label.id >= 1004)
            CHECK(label.text == (label.id == 1005 ? files : std::string("Done")));
    }
}

// The program that stages the installation, from the build's sandbox directory.
void Restage() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string stage = std::string(self, length);
    stage.erase(stage.find_last_of("\\/") + 1);
    stage += "..\\..\\sandbox\\stage.exe";
    RunOptions options;
    options.applicationPath = stage;
    options.commandLine = "\"" + stage + "\"";
    PROCESS_INFORMATION process;
    REQUIRE(StartProgram(options, process));
    DWORD exitCode = 0;
    REQUIRE(WaitForExit(process, 60000, exitCode));
    // The uninstaller's own directory is already there, which stage reports; the rest is new.
    REQUIRE(CopyFileA(SANDBOX_RECORDER, (installDirectory + "Plendrax.exe").c_str(), FALSE));
    std::vector<std::string> traces = Traces();
    for (const std::string& trace : Installed)
        REQUIRE(CountContaining(traces, trace) == 1);
}

} // namespace

TEST_CASE("quiet_same_end_state: an interactive run with /log, then a quiet run: the same end") {
    CreateDirectoryA(logs.c_str(), nullptr);
    std::string interactiveLog = logs + "interactive.log";
    std::string quietLog = logs + "Plendrax removal.log";

    // The interactive run with a log: its boxes, labels and pauses as they always are.
    StageOutlook(true);
    RunResult run = Run(Uninstaller("/log=" + interactiveLog + " %" + installDirectory));
    CheckFullRunWindows(run, "Done");
    std::vector<std::string> interactive = LogEvents(interactiveLog);
    REQUIRE(!interactive.empty());
    CHECK(interactive[0] == "==== Plendrax Uninstall 1.0.0.0: removal ====");
    CHECK(Count(interactive, "Confirmed") == 1);
    const char* allDone[] = {"done", "done", "done", "done"};
    CheckStagesLogged(interactive, allDone);
    CheckRemovalsLogged(interactive);
    CHECK(Count(interactive, "Outcome: message 5: " + UninstallerString(5)) == 1);
    CHECK(interactive.back() == "Exit code: 0");
    CHECK_FALSE(FileExists(DefaultLog()));

    std::vector<std::string> interactiveEnd = Traces();
    CHECK(OutlookServersGone(2000));
    std::string interactiveOutlook = ReadWholeFile(SANDBOX_LOG_DIRECTORY "profile.out");
    std::vector<RestoreRequest> interactiveRestore = RestoreRequests();
    REQUIRE(interactiveRestore.size() == 2);

    // The same installation and profile again, removed by a quiet run.
    Restage();
    StageOutlook(true);
    CHECK(Traces() != interactiveEnd);
    CHECK(RunQuiet("/QUIET /log=\"" + quietLog + "\" %" + installDirectory) == 0);
    CHECK(Traces() == interactiveEnd);
    CHECK(ReadWholeFile(SANDBOX_LOG_DIRECTORY "profile.out") == interactiveOutlook);
    CHECK(interactiveOutlook.find("msgclass=\"IPM.Task\" displayname=\"Task\"") !=
          std::string::npos);
    CHECK(CountContaining(SplitLines(interactiveOutlook), "item \"IPM.Task\" saved=1") == 3);
    std::vector<RestoreRequest> restore = RestoreRequests();
    REQUIRE(restore.size() == 2);
    for (size_t n = 0; n < 2; ++n) {
        CHECK(restore[n].event == interactiveRestore[n].event);
        CHECK(restore[n].sequence == interactiveRestore[n].sequence);
        CHECK(restore[n].description == "Removed Plendrax");
        CHECK(restore[n].messageBoxes == 0);
    }
    CHECK(restore[0].event == 100);
    CHECK(restore[1].sequence == 57);
    CHECK(RecordedStarts().empty()); // no document: nothing was left for a person

    std::vector<std::string> events = LogEvents(quietLog);
    REQUIRE(events.size() > 2);
    CHECK(events[0] == "==== Plendrax Uninstall 1.0.0.0: unattended removal ====");
    CHECK(events[1] == "Command line: \"" SANDBOX_UNINSTALLER "\" /QUIET /log=\"" + quietLog +
                           "\" %" + installDirectory);
    CheckStagesLogged(events, allDone);
    CheckRemovalsLogged(events);
    CHECK(Count(events, "Outlook reached") == 1);
    CHECK(Count(events, "Outlook folders walked: 5; task folders visited: 2; items converted: 3; "
                        "items failed: 0; default forms reset: 1; Extended MAPI used: yes") == 1);
    CHECK(Count(events, "Restore point begin request: succeeded, sequence number 57") == 1);
    CHECK(Count(events, "Restore point end request: succeeded, sequence number 57") == 1);
    CHECK(Count(events, "Outcome: message 5 (not shown: unattended): " + UninstallerString(5)) ==
          1);
    CHECK(events.back() == "Exit code: 0");
    CHECK_FALSE(FileExists(DefaultLog()));
}

TEST_CASE("quiet_manual_steps: without Extended MAPI exit 1, then 1603; the default log") {
    DeleteFileA(DefaultLog().c_str());
    StageOutlook(false);
    CHECK(RunQuiet("/quiet %" + installDirectory) == 1);
    CHECK(RecordedStarts().empty()); // the log takes the document's place
    std::vector<std::string> traces = Traces();
    // Only the other product's key, the user's own shortcut and the document beside the exe.
    CHECK(CountContaining(traces, ": present") == 3);
    CHECK(CountContaining(SplitLines(ReadWholeFile(SANDBOX_LOG_DIRECTORY "profile.out")),
                          "item \"IPM.Task\" saved=1") == 3);
    REQUIRE(ReadWholeFile(DefaultLog()).compare(0, 3, "\xEF\xBB\xBF") == 0);
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook folders walked: 5; task folders visited: 2; items converted: 3; "
                        "items failed: 0; default forms reset: 0; Extended MAPI used: no") == 1);
    CHECK(Count(events, "Outcome: message 7 (not shown: unattended): " +
                            OneLine(UninstallerString(7))) == 1);
    CHECK(events.back() == "Exit code: 1");

    // Run again, nothing is left: every trace reads "not present" and counts as removed; the
    // forms are still a person's to finish. The log keeps both runs.
    CHECK(RunQuiet("/quiet %" + installDirectory) == 1);
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "==== Plendrax Uninstall 1.0.0.0: unattended removal ====") == 2);
    CHECK(Count(events, "Exit code: 1") == 2);
    const char* results[] = {"done", "done", "done", "done"};
    auto header = std::find(events.rbegin(), events.rend(),
                            "==== Plendrax Uninstall 1.0.0.0: unattended removal ====");
    std::vector<std::string> second(header.base() - 1, events.end());
    CheckStagesLogged(second, results);
    CHECK(Count(second, "File " + installDirectory + "Setup.exe: not present") == 1);
    CHECK(Count(second, "Shortcut " + ShortcutIn(CSIDL_COMMON_PROGRAMS) + ": not present") == 1);
    CHECK(Count(second, "Outcome: message 7 (not shown: unattended): " +
                            OneLine(UninstallerString(7))) == 1);
}

TEST_CASE("quiet_unwritable_log: a log that cannot be written changes nothing") {
    CreateDirectoryA(logs.c_str(), nullptr);
    StageOutlook(true);
    CreateFileWithText(installDirectory + "My notes.txt", "keep me");
    DeleteFileA(DefaultLog().c_str());
    // A stage fails: 1603, whether or not the log can be written.
    CHECK(RunQuiet("/quiet /log=" + logs + "missing\\px.log %" + installDirectory) == 1603);
    CHECK(ReadWholeFile(installDirectory + "My notes.txt") == "keep me");
    for (const char* file : ProductFiles)
        CHECK_FALSE(FileExists(installDirectory + file));
    // While the directory is left, the entry stays, so that Plendrax is still found installed.
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    CHECK(CountContaining(SplitLines(ReadWholeFile(SANDBOX_LOG_DIRECTORY "profile.out")),
                          "item \"IPM.Task\" saved=1") == 3);
    CHECK(RestoreRequests().size() == 2);
    CHECK_FALSE(FileExists(logs + "missing"));
    CHECK_FALSE(FileExists(DefaultLog())); // the log given, or none: never another

    // The same run again with a log that works, and with every other kind that does not.
    std::string writable = logs + "works.log";
    CHECK(RunQuiet("/quiet /log=" + writable + " %" + installDirectory) == 1603);
    std::vector<std::string> events = LogEvents(writable);
    CHECK(events.back() == "Exit code: 1603");
    CHECK(CountContaining(events, "Directory " SANDBOX_INSTALL_PARENT "\\Plendrax: failed, "
                                  "error 145: ") == 1);
    CHECK(Count(events, "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY
                        ": kept while program files are left, so that Plendrax is still found "
                        "installed and a later run finishes the removal") == 1);
    // A log that another program holds open without sharing it.
    std::string held = logs + "held.log";
    REQUIRE(CreateFileWithText(held, "keep"));
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    for (const std::string& path :
         {held, logs, std::string("NUL"), logs + std::string(300, 'l') + ".log"}) {
        CAPTURE(path);
        CHECK(RunQuiet("/log=\"" + path + "\" /quiet %" + installDirectory) == 1603);
    }
    CloseHandle(holder);
    CHECK(ReadWholeFile(held) == "keep");
    CHECK(RestoreRequests().size() == 12);
    CHECK_FALSE(FileExists(DefaultLog()));
}

TEST_CASE("quiet_malformed: malformed option lists exit 87, other tails 0; nothing touched") {
    CreateDirectoryA(logs.c_str(), nullptr);
    DeleteFileA(DefaultLog().c_str());
    const std::string dir = " %" + installDirectory;
    for (const std::string& tail :
         {"/quiet /quiet" + dir, "/log= /quiet" + dir, "/log" + dir, std::string("/quiet"),
          "/quiet /log=" + logs + "x.log", std::string("/quiet %"),
          "/quiet /log=\"" + logs + "unterminated.log" + dir, "/quiet\t/S" + dir,
          "/quiet /log=C:\\Program Files\\Logs\\px.log" + dir, "/scope=machine" + dir,
          "/quiet /scope=all" + dir}) {
        CAPTURE(tail);
        CHECK(RunQuiet(tail) == ERROR_INVALID_PARAMETER);
    }
    // The design's other tails, an unknown option first among them: nothing, exit 0.
    for (const std::string& tail :
         {"/S" + dir, std::string("/S"), "/quietly" + dir, "/quiet" + dir.substr(1),
          "x" + dir.substr(1), "\"" + dir.substr(1) + "\"", "-quiet" + dir}) {
        CAPTURE(tail);
        CHECK(RunQuiet(tail) == 0);
    }
    CheckNothingTouched();

    // The reason goes to the default log, never to a path read from a list that is not right:
    // the unquoted path's first half would be a new file "C:\Program".
    CHECK_FALSE(FileExists(logs + "x.log"));
    CHECK_FALSE(FileExists("C:\\Program"));
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "==== Plendrax Uninstall 1.0.0.0: malformed command line ====") == 11);
    CHECK(Count(events, "Malformed option list, nothing was touched: no \"%\" and installation "
                        "directory after the options") == 2);
    CHECK(Count(events, "Malformed option list, nothing was touched: unknown option") == 2);
    CHECK(Count(events, "The word concerned: /S") == 1);
    CHECK(Count(events, "The word concerned: Files\\Logs\\px.log") == 1);
    CHECK(Count(events, "Malformed option list, nothing was touched: /scope goes only with "
                        "/quiet") == 1);
    CHECK(Count(events, "Exit code: 87") == 11);
    CHECK(Count(events, "Exit code: 0") == 0); // the other tails write no log
}

TEST_CASE("quiet_one_at_a_time: a quiet run exits 1618 while another run waits at its box") {
    StageOutlook(true);
    PROCESS_INFORMATION held;
    REQUIRE(StartProgram(Uninstaller("%" + installDirectory), held));
    HWND question = WaitForMessageBox(held, 60000);
    REQUIRE(question != nullptr);

    CHECK(RunQuiet("/quiet %" + installDirectory) == ERROR_INSTALL_ALREADY_RUNNING);
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "Another run of the uninstaller is in progress: nothing was touched") == 1);
    CHECK(events.back() == "Exit code: 1618");
    // A second interactive run asks as it always does.
    PROCESS_INFORMATION second;
    REQUIRE(StartProgram(Uninstaller("%" + installDirectory), second));
    HWND secondQuestion = WaitForMessageBox(second, 60000);
    CHECK(secondQuestion != nullptr);
    if (secondQuestion != nullptr)
        Press(secondQuestion, IDNO);
    DWORD exitCode = 1;
    CHECK(WaitForExit(second, 60000, exitCode));
    CHECK(exitCode == 0);
    CheckNothingTouched();

    Press(question, IDNO);
    exitCode = 1;
    CHECK(WaitForExit(held, 60000, exitCode));
    CHECK(exitCode == 0);
    CheckNothingTouched();
    // Once the run that held it has ended, the next quiet run goes ahead.
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CHECK_FALSE(FileExists(SANDBOX_INSTALL_DIRECTORY));
    CHECK(LogEvents(DefaultLog()).back() == "Exit code: 0");
}

namespace {

// Everything of the product gone; what is not the product's still there: the other product's
// key, the user's own programs shortcut, the document beside the uninstaller.
void CheckAllGone() {
    std::vector<std::string> traces = Traces();
    CHECK(CountContaining(traces, ": present") == 3);
    CHECK(CountContaining(traces, SANDBOX_OTHER_PRODUCT_KEY ": present") == 1);
    CHECK(CountContaining(traces, ShortcutIn(CSIDL_PROGRAMS) + ": present") == 1);
}

bool Recorded(const char* record) {
    return FileExists(std::string(SANDBOX_LOG_DIRECTORY) + record);
}

const std::string OutlookOut = SANDBOX_LOG_DIRECTORY "profile.out";

} // namespace

TEST_CASE("quiet_parts: the machine's part and the user's part, alone and in either order") {
    // One full run gives the end state the two parts must reach together.
    StageOutlook(true);
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    std::vector<std::string> removed = Traces();
    std::string converted = ReadWholeFile(OutlookOut);
    CheckAllGone();

    // A repeated run, on the profile as the first left it: nothing left, exit 0.
    REQUIRE(CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", converted));
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CHECK(Traces() == removed);
    std::vector<std::string> events = LogEvents(DefaultLog());
    const char* allDone[] = {"done", "done", "done", "done"};
    CheckStagesLogged(events, allDone);
    CHECK(Count(events,
                "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY ": not present") == 1);
    CHECK(CountContaining(events, "items converted: 0; items failed: 0") == 1);

    // The user's part first: Outlook, the settings keys and the desktop shortcut; no restore
    // point, and the machine's traces as they were.
    Restage();
    StageOutlook(true);
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 0);
    CHECK(RestoreRequests().empty());
    // Of the fifteen traces staged, the user's three are gone.
    CHECK(CountContaining(Traces(), ": present") == 12);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Corvenhalde\\Plendrax"));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK(ReadWholeFile(OutlookOut) == converted);
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "Scope: the user's part (Outlook, the settings keys, the desktop "
                        "shortcut)") == 1);
    CHECK(Count(events, "Stage 2 of 4, program files: not in this run (the machine's part)") == 1);
    CHECK(CountContaining(events, "Account: ", "; elevated; session 1") == 1);
    // Then the machine's part: together, the end of one full run.
    CHECK(RunQuiet("/quiet /scope=MACHINE %" + installDirectory) == 0);
    CHECK(Traces() == removed);
    CHECK(RestoreRequests().size() == 2);

    // The machine's part first: no Outlook, no MAPI, nothing of the user's.
    Restage();
    StageOutlook(true);
    CHECK(RunQuiet("/quiet /scope=machine %" + installDirectory) == 0);
    for (const char* record : {"outlook.log", "mapi32.log", "calls.log", "profile.out"})
        CHECK_FALSE(Recorded(record));
    // The user's three traces are all that is left, with what is not the product's.
    CHECK(CountContaining(Traces(), ": present") == 6);
    CHECK(ValueExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY, "TaskOrder"));
    CHECK(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK(RestoreRequests().size() == 2);
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 0);
    CHECK(Traces() == removed);
    CHECK(ReadWholeFile(OutlookOut) == converted);
}

TEST_CASE("quiet_truth: the exit code says what is left: a wrong directory, a failed save, a "
          "file in use, no Outlook") {
    std::string profile = Profile;
    profile.replace(profile.find("item \"IPM.Task.Plendrax\"\n    item \"IPM.Task\""), 24,
                    "item \"IPM.Task.Plendrax\" subject=\"Quarterly report\"");
    StageOutlook(true, profile + "fail \"Personal Folders/Tasks#1\" Save 1\n");

    // A directory that is not where the entry says Plendrax is: nothing touched.
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet %C:\\Program Files\\Corvenhalde\\Elsewhere\\") == 87);
    CheckNothingTouched();
    CHECK_FALSE(Recorded("outlook.log"));
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "Plendrax is installed in another directory, and its programs are still "
                        "there: " SANDBOX_INSTALL_PARENT "\\Plendrax") == 1);
    CHECK(Count(events, "Installation directory: C:\\Program Files\\Corvenhalde\\Elsewhere\\") ==
          1);

    // One item's save fails: the user's part fails, naming it.
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1603);
    events = LogEvents(DefaultLog());
    CHECK(CountContaining(events, "items converted: 2; items failed: 1;") == 1);
    CHECK(Count(events, "Item left unconverted: folder \"Tasks\", subject \"Quarterly report\"") ==
          1);
    CHECK(Count(events, "Stage 1 of 4, Outlook conversion: failed") == 1);

    // A program file held open by another process: the entry stays for the retry.
    StageOutlook(true);
    std::string setup = installDirectory + "Setup.exe";
    HANDLE holder = CreateFileA(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    // The same directory in another spelling is the installation directory all the same.
    CHECK(RunQuiet("/quiet %c:/program files/CORVENHALDE/plendrax/") == 1603);
    CloseHandle(holder);
    CHECK(FileExists(setup));
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CheckAllGone();

    // Without Outlook there is nothing to convert: neither a failure nor a step for a person.
    Restage();
    StageOutlook(true);
    const std::string server = "CLSID\\{0006F033-0000-0000-C000-000000000046}";
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (server + "\\LocalServer32").c_str());
    REQUIRE(RegDeleteKeyA(HKEY_CLASSES_ROOT, server.c_str()) == ERROR_SUCCESS);
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CheckAllGone();
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook is not installed (its automation class is not registered): "
                        "there is nothing to convert on this machine") == 1);
}

TEST_CASE("quiet_interrupted: a run ended abruptly is finished by the next; logs that are not "
          "to be written through") {
    StageOutlook(true);
    CreateDirectoryA(logs.c_str(), nullptr);
    // The default log planted as a second name of another file.
    std::string other = logs + "other.txt";
    REQUIRE(CreateFileWithText(other, "precious"));
    DeleteFileA(DefaultLog().c_str());
    REQUIRE(CreateHardLinkA(DefaultLog().c_str(), other.c_str(), nullptr));
    // /log inside the installation directory: the default log takes its place.
    std::string command = "/quiet /log=\"" + installDirectory + "px.log\" %" + installDirectory;

    // Ended before the removal: Outlook converted, nothing removed.
    SetEnvironmentVariableA("SANDBOX_SR_KILL", "begin");
    CHECK(RunQuiet(command) == 0xDEAD);
    SetEnvironmentVariableA("SANDBOX_SR_KILL", nullptr);
    CHECK(ReadWholeFile(other) == "precious");
    CHECK(FileExists(installDirectory + "Setup.exe"));
    CHECK_FALSE(FileExists(installDirectory + "px.log"));
    REQUIRE(DeleteFileA(DefaultLog().c_str()));
    CHECK(RunQuiet(command) == 0);
    CheckAllGone();
    CHECK(ReadWholeFile(other) == "precious");
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "The /log path lies inside the installation directory, whose removal it "
                        "would keep from happening; this log takes its place: " +
                            installDirectory + "px.log") == 1);
    CHECK(events.back() == "Exit code: 0");

    // Ended after the removal, before the restore point's end.
    Restage();
    StageOutlook(true);
    SetEnvironmentVariableA("SANDBOX_SR_KILL", "end");
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0xDEAD);
    SetEnvironmentVariableA("SANDBOX_SR_KILL", nullptr);
    CHECK_FALSE(FileExists(SANDBOX_INSTALL_DIRECTORY));
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CheckAllGone();
    CHECK(LogEvents(DefaultLog()).back() == "Exit code: 0");
}

TEST_CASE("quiet_uac_split: not elevated, an interactive run hands the machine's part to one "
          "elevated copy") {
    CreateDirectoryA(logs.c_str(), nullptr);
    StageOutlook(true);
    const std::string parentLog = logs + "parent.log", childLog = logs + "parent-machine.log";
    // As Programs and Features starts it for an administrator under UAC: the filtered token.
    RunOptions asStarted = Uninstaller("/log=" + parentLog + " %" + installDirectory);
    asStarted.limitedToken = true;
    CheckFullRunWindows(Run(asStarted), "Done");
    CHECK(RestoreRequests().size() == 2);
    CheckAllGone();
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)), "item \"IPM.Task\" saved=1") == 3);

    // One copy, given the machine's part and the same directory, did the machine's part.
    std::vector<std::string> child = LogEvents(childLog);
    CHECK(Count(child, "==== Plendrax Uninstall 1.0.0.0: unattended removal ====") == 1);
    CHECK(CountContaining(child, "Command line: ",
                          " /quiet /scope=machine /log=\"" + childLog + "\" %" +
                              installDirectory) == 1);
    CHECK(Count(child, "Restore point begin request: succeeded, sequence number 57") == 1);
    CHECK(Count(child, "File " + installDirectory + "Setup.exe: removed") == 1);
    CHECK(Count(child, "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY ": removed") == 1);
    CHECK(Count(child, "Shortcut " + ShortcutIn(CSIDL_COMMON_PROGRAMS) + ": removed") == 1);
    CHECK(CountContaining(child, "HKEY_CURRENT_USER") == 0);
    CHECK(CountContaining(child, "Outlook reached") == 0);
    CHECK(child.back() == "Exit code: 0");
    // The run itself, not elevated: Outlook, the user's keys and desktop shortcut, nothing else.
    std::vector<std::string> parent = LogEvents(parentLog);
    CHECK(CountContaining(parent, "Account: ", "; not elevated; session 1") == 1);
    CHECK(Count(parent, "Outlook reached") == 1);
    CHECK(Count(parent, "Registry key HKEY_CURRENT_USER\\" SANDBOX_SETTINGS_KEY ": removed") == 1);
    CHECK(Count(parent, "Shortcut " + ShortcutIn(CSIDL_DESKTOPDIRECTORY) + ": removed") == 1);
    CHECK(CountContaining(parent, "HKEY_LOCAL_MACHINE") == 0);
    CHECK(CountContaining(parent, "File ") == 0);
    CHECK(CountContaining(parent, "Restore point") == 0);
    CHECK(CountContaining(parent, "The machine's part runs in an elevated copy") == 1);
    CHECK(Count(parent, "The elevated copy ended with exit code 0") == 1);

    // A file of the installation held open: the copy leaves it, and the run says so.
    Restage();
    StageOutlook(true);
    std::string setup = installDirectory + "Setup.exe";
    HANDLE holder = CreateFileA(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    CheckFullRunWindows(Run(asStarted), "Failed");
    CloseHandle(holder);
    CHECK(FileExists(setup));
    CHECK(LogEvents(childLog).back() == "Exit code: 1603");
    CHECK(LogEvents(parentLog).back() == "Exit code: 0");
}
