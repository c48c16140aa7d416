// The run around its stages: the removal log, the locks, the context and the parts it allows,
// the unattended exit code and the elevated copy that does the machine's part.
#include <doctest.h>

#include "app/ElevatedPart.h"
#include "app/RemovalLog.h"
#include "app/RunContext.h"
#include "app/SingleRun.h"
#include "app/UninstallRun.h"
#include "removal/Removal.h"
#include "tests/support/SandboxState.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char logDirectory[] = "C:\\logtest\\";

std::string LogPath(const char* name) {
    return std::string(logDirectory) + name;
}

bool OpenLog(const std::string& path) {
    return OpenRemovalLog({path.c_str(), path.size()});
}

// "2026-12-07 14:03:22.120+01:00 " and the rest of the line.
bool HasTimeStamp(const std::string& line) {
    if (line.size() < 30 || (line[23] != '+' && line[23] != '-'))
        return false;
    const char pattern[] = "dddd-dd-dd dd:dd:dd.ddd?dd:dd ";
    for (size_t n = 0; n < 30; ++n) {
        bool digit = line[n] >= '0' && line[n] <= '9';
        if (pattern[n] == 'd' ? !digit : pattern[n] != '?' && line[n] != pattern[n])
            return false;
    }
    return true;
}

std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadWholeFile(path);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    CHECK(start == text.size()); // every line ends with CRLF
    return lines;
}

} // namespace

TEST_CASE("the removal log: UTF-8 lines with time stamps, appended run after run") {
    CreateDirectoryA(logDirectory, nullptr);
    std::string path = LogPath("removal.log");
    DeleteFileA(path.c_str());
    REQUIRE(OpenLog(path));
    CHECK(RemovalLogOpen());
    RunContext context;
    lstrcpyA(context.account, "NT AUTHORITY\\SYSTEM");
    lstrcpyA(context.userSid, "S-1-5-18");
    context.localSystem = context.elevated = true;
    LogRunHeader("unattended removal", context);
    // The product's texts and paths are ANSI: 0xE9 is e acute in code page 1252.
    REQUIRE(GetACP() == 1252);
    const TraceFate tried = TraceFate::Tried;
    LogTrace(Trace::File, nullptr, "C:\\Caf\xE9\\", "Plendrax.exe", 0, tried);
    LogTrace(Trace::Shortcut, nullptr, "C:\\Desktop", "\\Plendrax.lnk", ERROR_FILE_NOT_FOUND,
             tried);
    LogTrace(Trace::Directory, nullptr, "C:\\Apps", nullptr, ERROR_DIR_NOT_EMPTY, TraceFate::Kept);
    LogTrace(Trace::RegistryValue, HKEY_LOCAL_MACHINE, "Software\\Key", "DisplayName", 0, tried);
    LogTrace(Trace::RegistryKey, HKEY_CURRENT_USER, "Software\\Corvenhalde", nullptr,
             ERROR_ACCESS_DENIED, tried);
    LogTrace(Trace::Shortcut, nullptr, nullptr, "desktop", 0, tried);
    // In use: scheduled for deletion at restart, or already; never "failed" unless it is.
    LogTrace(Trace::File, nullptr, "C:\\P\\", "Setup.exe", ERROR_SHARING_VIOLATION,
             TraceFate::Scheduled);
    LogTrace(Trace::File, nullptr, "C:\\P\\", "Plendrax.exe", ERROR_ACCESS_DENIED,
             TraceFate::AlreadyScheduled);
    LogTrace(Trace::Directory, nullptr, "C:\\P", nullptr, ERROR_DIR_NOT_EMPTY,
             TraceFate::Scheduled);
    LogTrace(Trace::File, nullptr, "C:\\P\\", "Setup.exe", ERROR_ACCESS_DENIED,
             TraceFate::NotScheduled);
    LogTrace(Trace::Directory, nullptr, "C:\\P", nullptr, ERROR_DIR_NOT_EMPTY, TraceFate::NotEmpty);
    LogLine("Outcome: %s", "first\n\nsecond");
    LogFailure("Reaching Outlook", DWORD(REGDB_E_CLASSNOTREG), true);
    std::string longText(3000, 'x');
    LogText("Command line: ", longText.c_str(), longText.size());
    LogExitCode(1603);
    CloseRemovalLog();
    CHECK_FALSE(RemovalLogOpen());
    // Closed, the log functions write nothing.
    LogLine("after closing");

    char denied[600];
    FormatWindowsError(ERROR_ACCESS_DENIED, false, denied, sizeof denied);
    char sharing[600];
    FormatWindowsError(ERROR_SHARING_VIOLATION, false, sharing, sizeof sharing);
    CHECK(std::string(denied).rfind("error 5: ", 0) == 0);
    CHECK(std::string(denied).size() > 9); // the system's message follows

    std::string text = ReadWholeFile(path);
    REQUIRE(text.compare(0, 3, "\xEF\xBB\xBF") == 0);
    std::vector<std::string> lines = LogLines(path);
    REQUIRE(lines.size() == 18);
    lines[0].erase(0, 3);
    for (const std::string& line : lines) {
        CAPTURE(line);
        CHECK(HasTimeStamp(line));
    }
    auto rest = [&](size_t n) { return lines[n + (n >= 2)].substr(30); };
    CHECK(rest(0) == "==== Plendrax Uninstall 1.0.0.0: unattended removal ====");
    CHECK(rest(1).rfind("Command line: ", 0) == 0);
    CHECK(lines[2].substr(30) == "Account: NT AUTHORITY\\SYSTEM (S-1-5-18), the local system "
                                 "account; elevated; session 0");
    CHECK(rest(2) == "File C:\\Caf\xC3\xA9\\Plendrax.exe: removed");
    CHECK(rest(3) == "Shortcut C:\\Desktop\\Plendrax.lnk: not present");
    CHECK(rest(4) == "Directory C:\\Apps: kept, it is not empty: it goes only with the last of "
                     "its contents");
    CHECK(rest(5) ==
          "Registry value \"DisplayName\" of HKEY_LOCAL_MACHINE\\Software\\Key: removed");
    CHECK(rest(6) ==
          "Registry key HKEY_CURRENT_USER\\Software\\Corvenhalde: failed, " + std::string(denied));
    CHECK(rest(7) == "Shortcut in the desktop folder: the folder could not be found");
    CHECK(rest(8) == "File C:\\P\\Setup.exe: in use (" + std::string(sharing) +
                         "), scheduled for deletion at restart");
    CHECK(rest(9) == "File C:\\P\\Plendrax.exe: in use, a running program (" + std::string(denied) +
                         "), already scheduled for deletion at restart");
    CHECK(rest(10) ==
          "Directory C:\\P: scheduled for deletion at restart, once what is in it is gone");
    CHECK(rest(11) == "File C:\\P\\Setup.exe: in use, and scheduling its deletion at restart "
                      "failed, " +
                          std::string(denied));
    CHECK(rest(12) == "Directory C:\\P: kept, it is not empty: what is in it is not Plendrax's "
                      "or could not be removed");
    CHECK(rest(13) == "Outcome: first  second");
    CHECK(rest(14).rfind("Reaching Outlook: failed, error 0x80040154: ", 0) == 0);
    CHECK(rest(15) == "Command line: " + longText);
    CHECK(rest(16) == "Exit code: 1603");

    SUBCASE("a second run appends its own header, and the mark stays the file's first bytes") {
        REQUIRE(OpenLog(path));
        LogRunHeader("removal", RunContext());
        CloseRemovalLog();
        std::string again = ReadWholeFile(path);
        CHECK(again.compare(0, text.size(), text) == 0);
        CHECK(again.find("\xEF\xBB\xBF", 3) == std::string::npos);
        std::vector<std::string> appended = LogLines(path);
        REQUIRE(appended.size() == 21);
        CHECK(appended[18].substr(30) == "==== Plendrax Uninstall 1.0.0.0: removal ====");
        CHECK(appended[20].substr(30) == "Account: unknown (no SID); not elevated; session 0");
    }
}

TEST_CASE("a log that cannot be had is not opened, and nothing is made for it") {
    CreateDirectoryA(logDirectory, nullptr);
    std::string tooLong = LogPath(std::string(300, 'l').c_str());
    std::string fits = "C:\\" + std::string(MAX_PATH - 4, 'f'); // 259 characters, no directory
    for (std::string path : {LogPath("missing\\removal.log"), std::string(logDirectory), tooLong,
                             std::string("\\\\.\\C:"), std::string("//?/C:/x.log"),
                             std::string("NUL"), std::string("CON"), std::string(""), fits}) {
        CAPTURE(path);
        CHECK_FALSE(OpenLog(path));
        CHECK_FALSE(RemovalLogOpen());
        LogLine("never written");
    }
    CHECK_FALSE(FileExists(LogPath("missing")));
    CHECK_FALSE(FileExists("C:\\x.log"));
    // Not terminated where the path ends: only length bytes are the path.
    std::string inTail = LogPath("tail.log") + " /quiet %D:\\a\\";
    REQUIRE(OpenRemovalLog({inTail.c_str(), LogPath("tail.log").size()}));
    CloseRemovalLog();
    CHECK(FileExists(LogPath("tail.log")));
}

namespace {

struct LockTry {
    const char* name;
    bool owned;
};

DWORD WINAPI TakeLock(LPVOID attempt) {
    auto* lock = static_cast<LockTry*>(attempt);
    lock->owned = SingleRunLock(lock->name).Owned();
    return 0;
}

// Takes the lock and ends without letting go of it.
DWORD WINAPI AbandonLock(LPVOID attempt) {
    new SingleRunLock(static_cast<LockTry*>(attempt)->name);
    return 0;
}

bool OwnedOnThread(LPTHREAD_START_ROUTINE routine = TakeLock,
                   const char* name = SingleRunMutexName) {
    LockTry attempt = {name, false};
    HANDLE thread = CreateThread(nullptr, 0, routine, &attempt, 0, nullptr);
    REQUIRE(thread != nullptr);
    REQUIRE(WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    return attempt.owned;
}

} // namespace

TEST_CASE("one run at a time: the lock is held for the run, and a run that died lets go") {
    {
        SingleRunLock first(SingleRunMutexName);
        CHECK(first.Owned());
        CHECK_FALSE(OwnedOnThread());
    }
    CHECK(OwnedOnThread());
    OwnedOnThread(AbandonLock);
    SingleRunLock after(SingleRunMutexName);
    CHECK(after.Owned());
}

TEST_CASE("the user's part locks per user: two users' runs at once never see each other's lock") {
    char first[MAX_PATH], second[MAX_PATH];
    REQUIRE(UserRunLockName("S-1-5-21-1-2-3-1001", first));
    REQUIRE(UserRunLockName("S-1-5-21-1-2-3-1002", second));
    CHECK(std::string(first) == std::string(SingleRunMutexName) + " S-1-5-21-1-2-3-1001");
    SingleRunLock firstUser(first);
    REQUIRE(firstUser.Owned());
    CHECK(OwnedOnThread(TakeLock, second));
    CHECK_FALSE(OwnedOnThread(TakeLock, first));
    CHECK(OwnedOnThread()); // the machine's lock is another
    // No SID, or one too long for a name: no user lock is named.
    CHECK_FALSE(UserRunLockName("", first));
    CHECK_FALSE(UserRunLockName(std::string(300, '1').c_str(), first));
}

TEST_CASE("the system account and session 0 never do the user's part") {
    RunContext user, system, service;
    user.sessionId = system.sessionId = 1;
    system.localSystem = true;
    CHECK_FALSE(IsServiceContext(user));
    // Scope both, machine, user: the machine's part and the user's, as a pair of letters, and
    // the exit code of a run left with neither (no test here runs as the system account).
    auto parts = [](const RunContext& context) {
        std::string seen;
        for (RunScope scope : {RunScope::Both, RunScope::Machine, RunScope::User}) {
            RunParts run = PartsToRun(scope, context);
            seen += std::string(run.machine ? "m" : "-") + (run.user ? "u" : "-") +
                    std::to_string(ExitCodeWithoutParts(run)) + " ";
        }
        return seen;
    };
    CHECK(parts(user) == "mu0 m-0 -u0 ");
    CHECK(parts(system) == "m-0 m-0 --87 ");
    CHECK(parts(service) == "m-0 m-0 --87 ");
    // This process, under Wine: an elevated user in session 1, not the system account.
    RunContext here = CurrentRunContext();
    CHECK(here.account[0] == '\0'); // looked up only for a log
    LookUpAccountName(here);
    CHECK(here.elevated);
    CHECK_FALSE(here.localSystem);
    CHECK(here.sessionId == 1);
    CHECK(std::string(here.userSid).rfind("S-1-5-21-", 0) == 0);
    CHECK(std::string(here.account).find('\\') != std::string::npos);
}

TEST_CASE("the default log: the system's Logs directory when elevated, else the user's TEMP") {
    char path[MAX_PATH], windows[MAX_PATH], temp[MAX_PATH];
    GetSystemWindowsDirectoryA(windows, sizeof windows);
    GetTempPathA(sizeof temp, temp);
    REQUIRE(DefaultLogPath(true, path));
    CHECK(std::string(path) == std::string(windows) + "\\Logs\\UninstallPX.log");
    REQUIRE(DefaultLogPath(false, path));
    CHECK(std::string(path) == std::string(temp) + "UninstallPX.log");

    // A log inside the installation directory would keep it: case, separators and a trailing
    // separator do not hide it; a directory that only begins the same does not count.
    auto inside = [](const char* log, const char* directory) {
        return LogPathInside({log, std::strlen(log)}, directory);
    };
    CHECK(inside("C:\\Apps\\Plendrax\\px.log", "C:\\Apps\\Plendrax\\"));
    CHECK(inside("c:/apps/PLENDRAX/logs/px.log", "C:\\Apps\\Plendrax"));
    CHECK(inside("C:\\Apps\\x\\..\\Plendrax\\px.log", "C:\\Apps\\Plendrax\\\\"));
    CHECK_FALSE(inside("C:\\Apps\\Plendrax2\\px.log", "C:\\Apps\\Plendrax\\"));
    CHECK_FALSE(inside("C:\\Apps\\px.log", "C:\\Apps\\Plendrax\\"));
    CHECK_FALSE(inside("C:\\Apps\\Plendrax", "C:\\Apps\\Plendrax\\"));
    CHECK_FALSE(inside("C:\\Apps\\px.log", ""));
}

TEST_CASE("the unattended run's exit code follows the two outcome flags") {
    CHECK(UnattendedExitCode(false, false) == 0);
    CHECK(UnattendedExitCode(false, true) == 1);
    CHECK(UnattendedExitCode(true, false) == 1603);
    CHECK(UnattendedExitCode(true, true) == 1603);
    // A restart still to come outweighs a form left for a person; a failure outweighs both.
    CHECK(UnattendedExitCode(false, false, true) == 3010);
    CHECK(UnattendedExitCode(false, true, true) == 3010);
    CHECK(UnattendedExitCode(true, true, true) == 1603);
}

TEST_CASE("the machine's part by an elevated copy: judged by what was there and what is gone") {
    MachineTraces there{true, true, true, true}, gone, noSetup = there, directoryLeft = gone;
    noSetup.setupExe = false;
    directoryLeft.installDirectory = true;
    MachinePartResult done = JudgeMachinePart(there, gone, true);
    CHECK((done.programFiles && done.startMenuShortcut));
    // What was gone before the copy ran is not the copy's doing; the directory must go too.
    CHECK_FALSE(JudgeMachinePart(noSetup, gone, true).programFiles);
    CHECK_FALSE(JudgeMachinePart(there, directoryLeft, true).programFiles);
    CHECK_FALSE(JudgeMachinePart(gone, gone, true).startMenuShortcut);
    // A copy that did not run did nothing, whatever happened meanwhile.
    MachinePartResult notRun = JudgeMachinePart(there, gone, false);
    CHECK_FALSE((notRun.programFiles || notRun.startMenuShortcut));

    char child[MAX_PATH];
    REQUIRE(ChildLogPath("C:\\Logs\\px.log", child));
    CHECK(std::string(child) == "C:\\Logs\\px-machine.log");
    REQUIRE(ChildLogPath("C:\\Logs.d\\px", child));
    CHECK(std::string(child) == "C:\\Logs.d\\px-machine");
    CHECK_FALSE(ChildLogPath(("C:\\" + std::string(250, 'l') + ".log").c_str(), child));
}

TEST_CASE("an elevated copy that cannot be started (a refused consent) touches nothing") {
    // Windows answers a refused consent with ERROR_CANCELLED; Wine never refuses, so the start
    // that fails here is that of a program that is not there.
    const std::string directory = "C:\\elevation\\Plendrax\\";
    CreateDirectoryA("C:\\elevation", nullptr);
    CreateDirectoryA(directory.c_str(), nullptr);
    for (const char* file : {"Plendrax.exe", "Setup.exe"})
        REQUIRE(CreateFileWithText(directory + file));
    char shortcut[MAX_PATH];
    REQUIRE(StartMenuShortcutPath(shortcut));
    REQUIRE(CreateFileWithText(shortcut));

    DWORD error = 0;
    CHECK_FALSE(RunElevated("C:\\nowhere\\UninstallPX.exe", "/quiet", nullptr, error));
    CHECK(error != 0);
    MachinePartHandOff handOff;
    lstrcpyA(handOff.program, "C:\\nowhere\\UninstallPX.exe");
    SingleRunLock machineLock(SingleRunMutexName);
    handOff.machineLock = &machineLock;
    MachinePartResult result = RunMachinePartElevated(directory.c_str(), handOff, nullptr);
    // Stages 2 and 4 then read "Failed"; the lock was let go for the copy that never came.
    CHECK_FALSE(result.programFiles);
    CHECK_FALSE(result.startMenuShortcut);
    CHECK(OwnedOnThread());
    for (const char* file : {"Plendrax.exe", "Setup.exe"})
        CHECK(FileExists(directory + file));
    CHECK(FileExists(shortcut));
    DeleteFileA(shortcut);
}

TEST_CASE("the look at the machine's traces sees each program on its own") {
    const std::string directory = "C:\\traces\\Plendrax\\";
    CreateDirectoryA("C:\\traces", nullptr);
    CreateDirectoryA(directory.c_str(), nullptr);
    char shortcut[MAX_PATH];
    REQUIRE(StartMenuShortcutPath(shortcut));
    DeleteFileA(shortcut);
    // Either program alone, as a run interrupted between the two deletions leaves it.
    for (std::string present : {"Plendrax.exe", "Setup.exe"}) {
        CAPTURE(present);
        DeleteFileA((directory + "Plendrax.exe").c_str());
        DeleteFileA((directory + "Setup.exe").c_str());
        REQUIRE(CreateFileWithText(directory + present));
        MachineTraces traces = LookAtMachineTraces(directory.c_str());
        CHECK(traces.plendraxExe == (present == "Plendrax.exe"));
        CHECK(traces.setupExe == (present == "Setup.exe"));
        CHECK(traces.installDirectory);
        CHECK_FALSE(traces.startMenuShortcut);
    }
}
