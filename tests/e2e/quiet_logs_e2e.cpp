// Unattended removal end to end, its logs and its lock: logs that cannot or must not be written,
// malformed option lists, one run at a time, and runs ended abruptly. The real UninstallPX.exe in
// a sandbox prefix, watched by the sandbox user, who must never see a window of it. Each scenario
// is a test of its own in a fresh prefix.
#include <doctest.h>

#include "tests/e2e/QuietRun.h"

#include <string>
#include <vector>

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
    // Kept because of what is in it, not failed; the one above goes with its last content.
    CHECK(Count(events, "Directory " + sandbox::InstallParent() +
                            "\\Plendrax: kept, it is not empty: what is in it is not Plendrax's "
                            "or could not be removed") == 1);
    CHECK(Count(events, "Directory " + sandbox::InstallParent() +
                            ": kept, it is not empty: it goes only with the last of its "
                            "contents") == 1);
    CHECK(Count(events, "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY
                        ": kept while program files are left, so that Plendrax is still found "
                        "installed and a later run finishes the removal") == 1);
    // Each stage's line says what it left: the directory, and the entry kept for it.
    const char* left[] = {"done", "failed", "failed", "done"};
    CheckStagesLogged(events, left);
    CHECK(Count(events, "Outcome: message 3 (not shown: unattended): " + UninstallerString(3)) ==
          1);
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
          "/quiet /scope=all" + dir, "/quiet /scope=users" + dir,
          "/quiet /scope=machine" + dir.substr(1), "/allusers" + dir,
          "/quiet /scope=user /allusers" + dir, "/quiet /allusers /AllUsers" + dir}) {
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
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\Corvenhalde "
                          "Plendrax Removal",
                          View::Wow64_64));

    // The reason goes to the default log, never to a path read from a list that is not right:
    // the unquoted path's first half would be a new file "C:\Program".
    CHECK_FALSE(FileExists(logs + "x.log"));
    CHECK_FALSE(FileExists("C:\\Program"));
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "==== Plendrax Uninstall 1.0.0.0: malformed command line ====") == 16);
    CHECK(Count(events, "Malformed option list, nothing was touched: no \"%\" and installation "
                        "directory after the options") == 2);
    CHECK(Count(events, "Malformed option list, nothing was touched: unknown option") == 2);
    CHECK(Count(events, "The word concerned: /S") == 1);
    CHECK(Count(events, "The word concerned: Files\\Logs\\px.log") == 1);
    CHECK(Count(events, "Malformed option list, nothing was touched: /scope goes only with "
                        "/quiet") == 1);
    CHECK(Count(events, "Malformed option list, nothing was touched: /allusers goes only with "
                        "/quiet, in a run of the machine's part") == 2);
    CHECK(Count(events, "Exit code: 87") == 16);
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
    CHECK_FALSE(FileExists(sandbox::InstallDirectory()));
    CHECK(LogEvents(DefaultLog()).back() == "Exit code: 0");
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
    CHECK_FALSE(FileExists(sandbox::InstallDirectory()));
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CheckAllGone();
    CHECK(LogEvents(DefaultLog()).back() == "Exit code: 0");
}
