// Unattended removal end to end, by part and by exit code: the real UninstallPX.exe started with
// /quiet (/scope, /log) in a sandbox prefix, watched by the sandbox user, who must never see a
// window of it, and the interactive run that is not elevated and hands the machine's part to an
// elevated copy. Each scenario is a test of its own in a fresh prefix.
#include <doctest.h>

#include "tests/e2e/QuietRun.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

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
    CHECK(OutlookServersGone());
    std::string interactiveOutlook = ReadWholeFile(SANDBOX_LOG_DIRECTORY "profile.out");
    std::vector<RestoreRequest> interactiveRestore = RestoreRequests();
    REQUIRE(interactiveRestore.size() == 2);

    // The same installation and profile again, removed by a quiet run, with Outlook of this
    // build's bitness recorded in both places: Extended MAPI resets the form, as it always did.
    Restage();
    StageOutlook(true);
    REQUIRE(RecordOutlookBitness(sandbox::ProcessBitness(),
                                 sandbox::OutlookKeyBitness | sandbox::ClickToRunPlatform));
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
    CHECK(events[1] == "Command line: \"" + sandbox::Uninstaller() + "\" /QUIET /log=\"" +
                           quietLog + "\" %" + installDirectory);
    CheckStagesLogged(events, allDone);
    CheckRemovalsLogged(events);
    CHECK(Count(events, "Outlook reached") == 1);
    CHECK(Count(events, "Outlook folders walked: 5; task folders visited: 2; items converted: 3; "
                        "items failed: 0; default forms reset: 1; Extended MAPI used: yes") == 1);
    CHECK(Count(events, "Default forms: reset through Extended MAPI") == 1);
    CHECK(CountContaining(ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log"), "PropertyAccessor") == 0);
    CHECK(Count(events, "Restore point begin request: succeeded, sequence number 57") == 1);
    CHECK(Count(events, "Restore point end request: succeeded, sequence number 57") == 1);
    CHECK(Count(events, "Outcome: message 5 (not shown: unattended): " + UninstallerString(5)) ==
          1);
    CHECK(events.back() == "Exit code: 0");
    CHECK_FALSE(FileExists(DefaultLog()));
}

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
                        "there: " +
                            sandbox::InstallParent() + "\\Plendrax") == 1);
    CHECK(Count(events, "Installation directory: C:\\Program Files\\Corvenhalde\\Elsewhere\\") ==
          1);
    // Either program alone still there is the installation all the same.
    for (std::string program : {"Plendrax.exe", "Setup.exe"}) {
        CAPTURE(program);
        std::string path = installDirectory + program, away = path + ".away";
        REQUIRE(MoveFileA(path.c_str(), away.c_str()));
        CHECK(RunQuiet("/quiet %C:\\Program Files\\Corvenhalde\\Elsewhere\\") == 87);
        REQUIRE(MoveFileA(away.c_str(), path.c_str()));
    }
    CheckNothingTouched();
    CHECK(Count(LogEvents(DefaultLog()), "The directory given is not the installation directory: "
                                         "nothing was touched") == 3);

    // One item's save fails: the user's part fails, naming it.
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1603);
    events = LogEvents(DefaultLog());
    CHECK(CountContaining(events, "items converted: 2; items failed: 1;") == 1);
    CHECK(Count(events, "Item left unconverted: folder \"Tasks\", subject \"Quarterly report\"") ==
          1);
    CHECK(Count(events, "Stage 1 of 4, Outlook conversion: failed") == 1);

    // A program file held open by another process. Told not to schedule it, the run leaves it
    // and the entry stays for the retry.
    StageOutlook(true);
    std::string setup = installDirectory + "Setup.exe";
    HANDLE holder = CreateFileA(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    // The same directory in another spelling is the installation directory all the same.
    std::string spelling = installDirectory;
    for (char& c : spelling)
        c = c == '\\' ? '/' : char(std::tolower(static_cast<unsigned char>(c)));
    spelling.replace(spelling.find("corvenhalde"), 11, "CORVENHALDE");
    // Nor is any user's part registered for the logon while the machine's part is unfinished.
    CHECK(RunQuiet("/quiet /noschedule /allusers %" + spelling) == 1603);
    const std::string component =
        "SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\Corvenhalde Plendrax Removal";
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, component, View::Wow64_64));
    CHECK(FileExists(setup));
    CHECK(PendingAtRestart().empty());
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    CHECK(Count(LogEvents(DefaultLog()), "A program file in use is not scheduled for deletion at "
                                         "restart: /noschedule is given") == 1);
    CHECK(CountContaining(LogEvents(DefaultLog()), "not registered, since the machine's part is "
                                                   "not done") == 1);
    // As deployment tools run it: scheduled for deletion at restart with the directories, the
    // entry removed, 3010; with the restart pending, each user's part is registered.
    CHECK(RunQuiet("/quiet /allusers %" + installDirectory) == ERROR_SUCCESS_REBOOT_REQUIRED);
    CHECK_FALSE(StringValue(HKEY_LOCAL_MACHINE, component, "StubPath", View::Wow64_64).empty());
    CHECK(PendingAtRestart() ==
          std::vector<std::string>{AtRestart(setup),
                                   AtRestart(sandbox::InstallParent() + "\\Plendrax"),
                                   AtRestart(sandbox::InstallParent())});
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    // Free by the retry: deleted at once, 0; what is scheduled finds nothing at the restart.
    CloseHandle(holder);
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CheckAllGone();

    // Without Outlook there is nothing to convert: neither a failure nor a step for a person.
    Restage();
    StageOutlook(true);
    for (const char* id : {SANDBOX_OUTLOOK_CLASS, SANDBOX_OUTLOOK_OLD_CLASS})
        REQUIRE(RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + id).c_str()) ==
                ERROR_SUCCESS);
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet %" + installDirectory) == 0);
    CheckAllGone();
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook is not installed (its automation class is not registered): "
                        "there is nothing to convert on this machine") == 1);
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
                          " /quiet /scope=machine /noschedule /log=\"" + childLog + "\" %" +
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
    CHECK(FileExists(setup));
    // The copy belongs to the interactive run, which tells the person: it schedules nothing.
    CHECK(PendingAtRestart().empty());
    child = LastRunEvents(childLog);
    CHECK(CountContaining(child, "File " + setup + ": failed, error 32: ") == 1);
    CHECK(Count(child, "A program file in use is not scheduled for deletion at restart: "
                       "/noschedule is given") == 1);
    CHECK(child.back() == "Exit code: 1603");
    CHECK(LogEvents(parentLog).back() == "Exit code: 0");
    // Nor does an elevated interactive run: as it always was.
    CloseHandle(holder);
    Restage();
    holder = CreateFileA(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    CheckFullRunWindows(Run(Uninstaller("%" + installDirectory)), "Failed");
    CloseHandle(holder);
    CHECK(FileExists(setup));
    CHECK(PendingAtRestart().empty());

    // Setup.exe already gone, and a /log inside the installation directory. The copy removes the
    // rest, but the files' label needs both programs there before: "Failed". The default log of a
    // run that is not elevated, in the user's TEMP, takes the /log's place, the copy's beside it.
    Restage();
    StageOutlook(true);
    REQUIRE(DeleteFileA(setup.c_str()));
    RunOptions logInside =
        Uninstaller("/log=\"" + installDirectory + "px.log\" %" + installDirectory);
    logInside.limitedToken = true;
    CheckFullRunWindows(Run(logInside), "Failed");
    CheckAllGone();
    char temp[MAX_PATH];
    REQUIRE(GetTempPathA(sizeof temp, temp) > 0);
    parent = LogEvents(std::string(temp) + "UninstallPX.log");
    CHECK(Count(parent, "==== Plendrax Uninstall 1.0.0.0: removal ====") == 1);
    CHECK(Count(parent, "The /log path lies inside the installation directory, whose removal it "
                        "would keep from happening; this log takes its place: " +
                            installDirectory + "px.log") == 1);
    child = LogEvents(std::string(temp) + "UninstallPX-machine.log");
    REQUIRE_FALSE(child.empty());
    CHECK(Count(child, "File " + setup + ": not present") == 1);
    CHECK(child.back() == "Exit code: 0");
}
