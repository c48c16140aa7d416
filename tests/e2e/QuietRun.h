#pragma once
// What the unattended scenarios share: the staged installation and Outlook profile, a quiet run
// watched for windows, the product's traces before and after, and the log's events.
#include <doctest.h>

#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"
#include "tests/e2e/UninstallerRun.h"
#include "tests/support/SandboxState.h"

#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

inline const std::string installDirectory = sandbox::InstallDirectory();
inline const std::string logs = "C:\\Logs\\";

inline const char Profile[] = R"(store "Personal Folders" id=0A0B0C0D
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
inline std::string DefaultLog() {
    char directory[MAX_PATH] = "";
    GetSystemWindowsDirectoryA(directory, sizeof directory);
    return std::string(directory) + "\\Logs\\UninstallPX.log";
}

// The Outlook stand-in with the profile above; records of earlier runs cleared.
inline void StageOutlook(bool extendedMapi, const std::string& profile = Profile) {
    RegisterOutlookStandin();
    SetExtendedMapi(extendedMapi);
    for (const char* log :
         {"outlook.log", "profile.out", "recorder.log", "srclient.log", "mapi32.log", "calls.log"})
        DeleteFileA((std::string(SANDBOX_LOG_DIRECTORY) + log).c_str());
    REQUIRE(CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", profile));
}

// No window came while the watch lasted, of the program or of any other process.
inline void CheckNoWindowSeen(const WindowWatch& watch) {
    CHECK_FALSE(watch.timedOut);
    std::string seen;
    for (const std::string& window : watch.windowsSeen)
        seen += window + "; ";
    INFO("windows seen: ", seen);
    CHECK(watch.windowsSeen.empty());
}

// Runs the staged uninstaller as options say while watching its windows; none may appear, of its
// own or of an Outlook it starts. Afterwards no Outlook is left running, unless one already was.
inline DWORD RunQuiet(const RunOptions& options, bool outlookWasRunning = false) {
    WindowWatch watch = RunWatchingWindows(options);
    CAPTURE(options.commandLine);
    REQUIRE(watch.started);
    CheckNoWindowSeen(watch);
    REQUIRE(watch.exited);
    CHECK(OutlookMembersNotFound().empty());
    // Outlook's local server ends by itself, having written its part of the profile.
    if (!outlookWasRunning)
        CHECK(OutlookServersGone());
    return watch.exitCode;
}

inline DWORD RunQuiet(const std::string& tail, bool outlookWasRunning = false) {
    return RunQuiet(Uninstaller(tail), outlookWasRunning);
}

// A path as Windows lists its deletion at restart (PendingAtRestart).
inline std::string AtRestart(const std::string& path) {
    return "\\??\\" + path;
}

// Whether each of the product's traces, and what lies around them, is there.
inline std::vector<std::string> Traces() {
    std::vector<std::string> traces;
    auto note = [&](const std::string& what, bool present) {
        traces.push_back(what + (present ? ": present" : ": gone"));
    };
    for (const char* file : ProductFiles)
        note(installDirectory + file, FileExists(installDirectory + file));
    note(sandbox::InstallDirectory(), FileExists(sandbox::InstallDirectory()));
    note(sandbox::InstallParent(), FileExists(sandbox::InstallParent()));
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
    note(sandbox::UninstallerDirectory() + "UninstallPX.doc",
         FileExists(sandbox::UninstallerDirectory() + "UninstallPX.doc"));
    return traces;
}

inline const std::vector<std::string> Installed = [] {
    std::vector<std::string> traces;
    for (const char* file : ProductFiles)
        traces.push_back(installDirectory + file + ": present");
    for (const std::string& other :
         {std::string(sandbox::InstallDirectory()), std::string(sandbox::InstallParent()),
          std::string(SANDBOX_UNINSTALL_KEY), std::string(SANDBOX_SETTINGS_KEY),
          std::string("Software\\Corvenhalde\\Plendrax"), std::string(SANDBOX_OTHER_PRODUCT_KEY)})
        traces.push_back(other + ": present");
    return traces;
}();

// Nothing of the installation touched, no restore point, nothing started.
inline void CheckNothingTouched() {
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
inline std::vector<std::string> LogEvents(const std::string& path) {
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

// The events of the log's last unattended run.
inline std::vector<std::string> LastRunEvents(const std::string& path) {
    std::vector<std::string> events = LogEvents(path);
    auto header = std::find(events.rbegin(), events.rend(),
                            "==== Plendrax Uninstall 1.0.0.0: unattended removal ====");
    REQUIRE(header != events.rend());
    return std::vector<std::string>(header.base() - 1, events.end());
}

// The log keeps one event on one line: a message's line feeds become blanks.
inline std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

inline size_t Count(const std::vector<std::string>& events, const std::string& event) {
    size_t count = 0;
    for (const std::string& line : events)
        count += line == event;
    return count;
}

// The lines that name each of the product's traces the run removed.
inline void CheckRemovalsLogged(const std::vector<std::string>& events) {
    for (const char* file : ProductFiles)
        CHECK(Count(events, "File " + installDirectory + file + ": removed") == 1);
    CHECK(Count(events, "Directory " + sandbox::InstallParent() + "\\Plendrax: removed") == 1);
    CHECK(Count(events, "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY ": removed") ==
          1);
    CHECK(Count(events, "Registry key HKEY_CURRENT_USER\\" SANDBOX_SETTINGS_KEY ": removed") == 1);
    CHECK(Count(events, "Shortcut " + ShortcutIn(CSIDL_DESKTOPDIRECTORY) + ": removed") == 1);
    CHECK(Count(events, "Shortcut " + ShortcutIn(CSIDL_COMMON_PROGRAMS) + ": removed") == 1);
}

// The stages started and ended in their order, each once.
inline void CheckStagesLogged(const std::vector<std::string>& events, const char* results[4]) {
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
    std::string logged;
    for (const std::string& stage : stages)
        logged += "\n" + stage;
    INFO("stage lines logged:", logged);
    CHECK(stages == expected);
}

// The question, the labels in their order with their pauses, each stage's result (files is the
// program-files stage's label) and the final message that follows from them.
inline void CheckFullRunWindows(const RunResult& run, const std::string& files) {
    INFO(DescribeRun(run));
    CHECK(run.confirmation.text == UninstallerString(2));
    CHECK(run.confirmation.icon == MB_ICONQUESTION);
    bool failed = files != "Done";
    CHECK(run.final.text == UninstallerString(failed ? 3 : 5));
    CHECK(run.final.icon == (failed ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
    CHECK(run.progressVisibleBehindFinal);
    CheckStepsInTurn(run);
    for (const LabelState& label : run.finalLabels) {
        CAPTURE(label.id);
        if (label.id >= 1004)
            CHECK(label.text == (label.id == 1005 ? files : std::string("Done")));
    }
}

// The program that stages the installation, from the build's sandbox directory.
inline void Restage() {
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

// Everything of the product gone; what is not the product's still there: the other product's
// key, the user's own programs shortcut, the document beside the uninstaller.
inline void CheckAllGone() {
    std::vector<std::string> traces = Traces();
    CHECK(CountContaining(traces, ": present") == 3);
    CHECK(CountContaining(traces, SANDBOX_OTHER_PRODUCT_KEY ": present") == 1);
    CHECK(CountContaining(traces, ShortcutIn(CSIDL_PROGRAMS) + ": present") == 1);
}

inline bool Recorded(const char* record) {
    return FileExists(std::string(SANDBOX_LOG_DIRECTORY) + record);
}

inline const std::string OutlookOut = SANDBOX_LOG_DIRECTORY "profile.out";
