// Program files in use, end to end (part of quiet_parts_e2e): an elevated unattended run of the
// machine's part schedules them for deletion at the next restart and exits 3010; one that is
// not elevated leaves them (1603). The second scenario runs in the same prefix after the first,
// the prefix restarted in between as Wine restarts Windows (tests/wine-run,
// SANDBOX_RESTART_THEN), and finds what the restart did.
#include <doctest.h>

#include "tests/e2e/QuietRun.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

const std::string plendraxExe = installDirectory + "Plendrax.exe";
const std::string setupExe = installDirectory + "Setup.exe";
const std::string installDirectoryItself = sandbox::InstallParent() + "\\Plendrax";

// A Plendrax form that Outlook half resets: a person's to finish, in the same run as the files
// left for the restart.
const char FormLeft[] = R"(store "Personal Folders" id=0A0B0C0D
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
fail "Personal Folders/Tasks.PropertyAccessor" SetProperties:0x36E6001E *
)";

// Both programs in use: they, then the directories, in the order Windows must delete them.
const std::vector<std::string> bothScheduled = {AtRestart(plendraxExe), AtRestart(setupExe),
                                                AtRestart(installDirectoryItself),
                                                AtRestart(sandbox::InstallParent())};

} // namespace

TEST_CASE("quiet_in_use: files in use are deleted at restart, 3010, nothing twice; not "
          "elevated, 1603") {
    CreateDirectoryA(logs.c_str(), nullptr);
    // A read-only Setup.exe while another program of that name runs from elsewhere: access is
    // denied, but the file is not in use. Nothing is scheduled and the entry stays: 1603.
    const std::string namesake = "C:\\Other\\Setup.exe";
    CreateDirectoryA("C:\\Other", nullptr);
    REQUIRE(CopyFileA(SANDBOX_RECORDER, namesake.c_str(), FALSE));
    RunOptions other;
    other.applicationPath = namesake;
    other.commandLine = "\"" + namesake + "\" /hold";
    PROCESS_INFORMATION elsewhere;
    REQUIRE(StartProgram(other, elsewhere));
    REQUIRE(SetFileAttributesA(setupExe.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK(RunQuiet("/quiet /scope=machine %" + installDirectory) == 1603);
    CHECK(PendingAtRestart().empty());
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    CHECK(CountContaining(LogEvents(DefaultLog()), "File " + setupExe + ": failed, error 5: ") ==
          1);
    TerminateProcess(elsewhere.hProcess, 0);
    CHECK(WaitForSingleObject(elsewhere.hProcess, 30000) == WAIT_OBJECT_0);
    CloseHandle(elsewhere.hThread);
    CloseHandle(elsewhere.hProcess);
    REQUIRE(SetFileAttributesA(setupExe.c_str(), FILE_ATTRIBUTE_NORMAL));
    Restage();

    StageOutlook(false, FormLeft);
    // Plendrax.exe running from the installation, as its user left it, and Setup.exe held open
    // by another program that does not share deletion.
    RunOptions plendrax;
    plendrax.applicationPath = plendraxExe;
    plendrax.commandLine = "\"" + plendraxExe + "\" /hold";
    PROCESS_INFORMATION running;
    REQUIRE(StartProgram(plendrax, running));
    CloseHandle(running.hThread);
    CloseHandle(running.hProcess); // it runs on until the restart ends it
    for (int n = 0; n < 100 && RecordedStarts().empty(); ++n)
        Sleep(100);
    REQUIRE(RecordedStarts().size() == 1);
    HANDLE holder = CreateFileA(setupExe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);

    // Not elevated (an administrator's filtered token): scheduling needs an administrator, so
    // the files stay, the entry with them, and nothing is scheduled.
    RunOptions limited =
        Uninstaller("/quiet /scope=machine /log=" + logs + "limited.log %" + installDirectory);
    limited.limitedToken = true;
    CHECK(RunQuiet(limited) == 1603);
    CHECK(PendingAtRestart().empty());
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    std::vector<std::string> events = LogEvents(logs + "limited.log");
    CHECK(CountContaining(events, "Account: ", "; not elevated; ") == 1);
    CHECK(Count(events, "A program file in use is not scheduled for deletion at restart: this "
                        "run is not elevated") == 1);
    CHECK(CountContaining(events, "File " + plendraxExe + ": failed, error 5: ") == 1);
    CHECK(CountContaining(events, "File " + setupExe + ": failed, error 32: ") == 1);
    CHECK(events.back() == "Exit code: 1603");

    // Elevated, both parts: the two programs and the two directories that only they keep are
    // scheduled in that order, the entry goes, and a restart completes the removal. The form
    // left for a person does not hide the restart from a deployment tool: 3010, not 1.
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet %" + installDirectory) == ERROR_SUCCESS_REBOOT_REQUIRED);
    CHECK(PendingAtRestart() == bothScheduled);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    std::vector<std::string> traces = Traces();
    CHECK(CountContaining(traces, ": present") == 7);
    for (const std::string& path : {plendraxExe, setupExe, installDirectoryItself + "\\"})
        CHECK(CountContaining(traces, path + ": present") == 1);
    events = LogEvents(DefaultLog());
    CHECK(CountContaining(events, "File " + plendraxExe + ": in use, a running program (error 5: ",
                          "), scheduled for deletion at restart") == 1);
    CHECK(CountContaining(events, "File " + setupExe + ": in use (error 32: ",
                          "), scheduled for deletion at restart") == 1);
    for (const std::string& directory : {installDirectoryItself, sandbox::InstallParent()})
        CHECK(Count(events, "Directory " + directory +
                                ": scheduled for deletion at restart, once what is in it is "
                                "gone") == 1);
    CHECK(Count(events, "Registry key HKEY_LOCAL_MACHINE\\" SANDBOX_UNINSTALL_KEY ": removed") ==
          1);
    CHECK(Count(events, "A restart completes the removal: 4 paths are scheduled for deletion at "
                        "restart (named above)") == 1);
    CHECK(CountContaining(events, "Default form left for a person to reset: folder \"Tasks\": ",
                          "left half reset, for a person to finish") == 1);
    const char* allDone[] = {"done", "done", "done", "done"};
    CheckStagesLogged(events, allDone);
    CHECK(CountContaining(events, ": failed") == 0); // the maker's key is kept, not failed
    CHECK(Count(events, "Registry key HKEY_CURRENT_USER\\Software\\Corvenhalde: kept, it is not "
                        "empty: it goes only with the last of its contents") == 1);
    CHECK(events.back() == "Exit code: 3010");

    // Again before the restart, the directory spelled otherwise and no entry left to say where
    // Plendrax is: found scheduled, nothing scheduled twice, not refused.
    std::string spelling = installDirectory;
    for (char& c : spelling)
        c = c == '\\' ? '/' : char(std::tolower(static_cast<unsigned char>(c)));
    CHECK(RunQuiet("/quiet /scope=machine %" + spelling) == ERROR_SUCCESS_REBOOT_REQUIRED);
    CHECK(PendingAtRestart() == bothScheduled);
    events = LastRunEvents(DefaultLog());
    CHECK(CountContaining(events, "already scheduled for deletion at restart") == 4);
    CHECK(CountContaining(events, "not the installation directory") == 0);
    CHECK(events.back() == "Exit code: 3010");

    // Setup.exe free by then: deleted at once; Plendrax.exe still running and scheduled, the
    // directories after it: 3010 again, the list as it was.
    CloseHandle(holder);
    CHECK(RunQuiet("/quiet /scope=machine %" + installDirectory) == ERROR_SUCCESS_REBOOT_REQUIRED);
    CHECK_FALSE(FileExists(setupExe));
    CHECK(PendingAtRestart() == bothScheduled);
    events = LastRunEvents(DefaultLog());
    CHECK(Count(events, "File " + setupExe + ": removed") == 1);
    CHECK(CountContaining(events, "already scheduled for deletion at restart") == 3);
    CHECK(Count(events, "A restart completes the removal: 3 paths are scheduled for deletion at "
                        "restart (named above)") == 1);
}

TEST_CASE("quiet_in_use_restarted: the restart deleted what was scheduled, and nothing else") {
    CHECK(PendingAtRestart().empty());
    CHECK_FALSE(FileExists(installDirectoryItself));
    CHECK_FALSE(FileExists(sandbox::InstallParent()));
    // The other product's key, the user's own shortcut, the uninstaller and its document.
    CheckAllGone();
    CHECK(FileExists(sandbox::Uninstaller()));
    CHECK(LogEvents(DefaultLog()).back() == "Exit code: 3010");
    // Nothing of the machine's is left: 0. (The user's part would still find the form that
    // Outlook half resets.)
    CHECK(RunQuiet("/quiet /scope=machine %" + installDirectory) == 0);
    CHECK(PendingAtRestart().empty());
}
