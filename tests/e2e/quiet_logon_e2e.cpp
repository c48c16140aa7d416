// Every user of a shared machine in one deployment: the machine's part registers the user's
// part for each user's next logon (/allusers), from a deployment's cache that is deleted
// afterwards; the sandbox's logon then plays Windows' (Active Setup, RunOnce) for the user. The
// real UninstallPX.exe in a sandbox prefix, watched for windows through the logon and the user's
// part it starts.
#include <doctest.h>

#include "tests/e2e/QuietRun.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

const std::string Component =
    "SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\Corvenhalde Plendrax Removal";
const std::string Cache = "C:\\ccmcache\\7\\";
const std::string Converted = "item \"IPM.Task\" saved=1";
const std::string LogonReport = SANDBOX_LOG_DIRECTORY "logon.log";
const std::string RunOnce = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const std::string Kept = sandbox::ProgramFiles() + "\\Plendrax Removal\\UninstallPX.exe";

// A form Outlook will not reset, without Extended MAPI: the user's part ends with 1.
const char FormLeftProfile[] = R"profile(store "Personal Folders" id=0A0B0C0D
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task" displayname="Task"
    item "IPM.Task.Plendrax"
  folder "Refusing" type=3 id=00AA03 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
fail "Personal Folders/Refusing.PropertyAccessor" SetProperties:0x36E6001E *
)profile";

// The kept copy's command line for a user's part at logon try N.
std::string StubCommand(int tryNumber) {
    return "\"" + Kept + "\" /quiet /scope=user /atlogon=" + std::to_string(tryNumber) + " %" +
           installDirectory;
}

// Deploys the uninstaller to a tool's cache, runs the machine's part for all users from there,
// then deletes the cache as the tool does.
DWORD DeployForAllUsers(const std::string& tail = "/quiet /scope=machine /allusers %") {
    CreateDirectoryA("C:\\ccmcache", nullptr);
    CreateDirectoryA(Cache.c_str(), nullptr);
    REQUIRE(CopyFileA(sandbox::Uninstaller().c_str(), (Cache + "UninstallPX.exe").c_str(), FALSE));
    RunOptions options;
    options.applicationPath = Cache + "UninstallPX.exe";
    options.commandLine = "\"" + options.applicationPath + "\" " + tail + installDirectory;
    DWORD exitCode = RunQuiet(options);
    CHECK(DeleteFileA(options.applicationPath.c_str()));
    CHECK(RemoveDirectoryA(Cache.c_str()));
    return exitCode;
}

// Whether the user's part that the logon's last stub started, try N, has written its exit code;
// read as raw text, since it may be writing while this reads.
bool UserPartEnded(int tryNumber) {
    std::string text = ReadWholeFile(DefaultLog());
    size_t stub = text.rfind("the user's part at logon ====");
    size_t header = text.find("unattended removal ====", stub == std::string::npos ? 0 : stub);
    if (stub == std::string::npos || header == std::string::npos)
        return false;
    size_t at = text.find("At logon, try " + std::to_string(tryNumber) + " of 3", header);
    return at != std::string::npos && text.find("Exit code: ", at) != std::string::npos;
}

// Whether a process of the uninstaller runs (a stub, or a user's part it started).
bool UninstallerRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return true;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running;
         more = Process32Next(snapshot, &entry))
        running = lstrcmpiA(entry.szExeFile, "UninstallPX.exe") == 0;
    CloseHandle(snapshot);
    return running;
}

struct LogonSeen {
    std::vector<std::string> report; // what the logon ran, one line each
    bool userPartEndedFirst = false; // the part had ended when the logon went on
};

// The user logs on (logon.exe with its options); with userPartTry, the logon starts that try of
// the user's part, which is waited for too, up to the end of its process: it writes the profile
// as it ends. No window may appear meanwhile, of any process.
LogonSeen LogOn(int userPartTry, const std::string& logonOptions = "") {
    DeleteFileA(LogonReport.c_str());
    RunOptions options;
    options.applicationPath = SANDBOX_DIRECTORY "logon.exe";
    options.commandLine = "\"" SANDBOX_DIRECTORY "logon.exe\" " + logonOptions;
    PROCESS_INFORMATION logon;
    REQUIRE(StartProgram(options, logon));
    LogonSeen seen;
    bool logonEnded = false;
    WindowWatch watch = WatchWindowsUntil(
        [&] {
            if (!logonEnded && WaitForSingleObject(logon.hProcess, 0) == WAIT_OBJECT_0) {
                logonEnded = true;
                seen.userPartEndedFirst = userPartTry != 0 && UserPartEnded(userPartTry);
            }
            // The logon waits for its stubs, which start the part before they end.
            return logonEnded && !UninstallerRunning();
        },
        180000);
    if (userPartTry != 0)
        CHECK(UserPartEnded(userPartTry));
    DWORD exitCode = 1;
    CHECK(WaitForExit(logon, 5000, exitCode));
    CHECK(exitCode == 0);
    CheckNoWindowSeen(watch);
    CHECK(OutlookServersGone(10000));
    seen.report = ReadLines(LogonReport);
    return seen;
}

// The stub's line in the logon's report: it ran, and ended with 0.
void CheckStubRan(const LogonSeen& seen) {
    std::string report;
    for (const std::string& line : seen.report)
        report += line + "\n";
    INFO("logon: ", report);
    CHECK(CountContaining(seen.report, "stub \"Corvenhalde Plendrax Removal\": exit 0 after") == 1);
}

// The user's part that the logon started: done, with its exit code.
std::vector<std::string> CheckUserPartDone(int tryNumber, int exitCode) {
    std::vector<std::string> events = LastRunEvents(DefaultLog());
    std::string logged;
    for (const std::string& event : events)
        logged += "\n" + event;
    INFO("the user's part logged:", logged);
    CHECK(Count(events, "At logon, try " + std::to_string(tryNumber) + " of 3") == 1);
    CHECK(Count(events, "Scope: the user's part (Outlook, the settings keys, the desktop "
                        "shortcut)") == 1);
    CHECK(events.back() == "Exit code: " + std::to_string(exitCode));
    return events;
}

} // namespace

TEST_CASE("quiet_allusers: registered by the machine's part from a deleted cache, each user's "
          "part runs at the next logon without holding it, once") {
    // Outlook rejects calls for six seconds once the walk begins.
    StageOutlook(true, std::string(Profile) + "busy outlook 4 6000\n");
    DeleteFileA(DefaultLog().c_str());
    REQUIRE(DeployForAllUsers() == 0);
    // The machine's part done; the user's untouched, and no Outlook started.
    std::vector<std::string> traces = Traces();
    for (const char* file : ProductFiles)
        CHECK(CountContaining(traces, installDirectory + file + ": gone") == 1);
    CHECK(CountContaining(traces, SANDBOX_UNINSTALL_KEY ": gone") == 1);
    CHECK(CountContaining(traces, SANDBOX_SETTINGS_KEY ": present") == 1);
    CHECK(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    CHECK(OutlookServerProcesses().empty());
    // The component, in the 64-bit view that Windows' logon reads, runs a copy kept under the
    // Program Files folder: not the user's profile, not the deleted cache.
    std::string stub = StringValue(HKEY_LOCAL_MACHINE, Component, "StubPath", View::Wow64_64);
    CHECK(stub == StubCommand(1));
    CHECK(FileExists(Kept));
    std::string version = StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64);
    CHECK(version.size() >= 7);
    CHECK_FALSE(StringValue(HKEY_LOCAL_MACHINE, Component, nullptr, View::Wow64_64).empty());
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, Component, "IsInstalled", View::Wow64_64));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, Component));
    std::vector<std::string> events = LastRunEvents(DefaultLog());
    CHECK(CountContaining(events, "registered as the Active Setup component "
                                  "HKEY_LOCAL_MACHINE\\" +
                                      Component) == 1);
    CHECK(CountContaining(events, "stay on the machine", Kept) == 1);

    // The logon: the stub hands the part on and the logon goes on while Outlook keeps it busy.
    LogonSeen seen = LogOn(1);
    CheckStubRan(seen);
    CHECK_FALSE(seen.userPartEndedFirst);
    events = CheckUserPartDone(1, 0);
    CHECK(CountContaining(events, "Outlook kept one call waiting") == 1);
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)), Converted) == 3);
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)),
                          "msgclass=\"IPM.Task\" displayname=\"Task\"") == 1);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK(StringValue(HKEY_CURRENT_USER, Component, "Version") == version);

    // The next logon runs nothing; a second deployment changes nothing for this user.
    seen = LogOn(0);
    CHECK(CountContaining(seen.report, "stub \"Corvenhalde Plendrax Removal\"") == 0);
    CHECK(DeployForAllUsers() == 0);
    CHECK(StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64) == version);
    seen = LogOn(0);
    CHECK(CountContaining(seen.report, "stub \"Corvenhalde Plendrax Removal\"") == 0);
}

TEST_CASE("quiet_allusers_retry: a part that failed runs again at the next logon; a user with "
          "no mail profile; Plendrax installed again; the registering user's own part") {
    // Outlook closes midway through the walk, after a busy start that outlasts the logon.
    StageOutlook(true, std::string(Profile) + "busy outlook 4 6000\n"
                                              "close \"Personal Folders/Tasks#3\" Save 1\n");
    REQUIRE(DeployForAllUsers() == 0);
    DeleteFileA(DefaultLog().c_str());
    LogonSeen seen = LogOn(1);
    CheckStubRan(seen);
    std::vector<std::string> events = CheckUserPartDone(1, 1603);
    REQUIRE(CountContaining(events, "the next logon tries it again") == 1);
    // Through the stub again, which looks for a new installation first.
    CHECK(StringValue(HKEY_CURRENT_USER, RunOnce, "Corvenhalde Plendrax Removal") ==
          StubCommand(2));
    // The store keeps what was saved; Outlook closes again at the second try, through RunOnce,
    // and is itself again at the third, which finishes.
    std::string store;
    for (const std::string& line : ReadLines(OutlookOut))
        if (line.compare(0, 5, "busy ") != 0 && line.compare(0, 6, "close ") != 0)
            store += line + "\n";
    REQUIRE(CreateFileWithText(SANDBOX_DIRECTORY "profile.txt",
                               store + "close \"Personal Folders/Tasks#3\" Save 1\n"));
    seen = LogOn(2);
    CHECK(CountContaining(seen.report, "stub \"Corvenhalde Plendrax Removal\"") == 0);
    CHECK(CountContaining(seen.report, "runonce \"Corvenhalde Plendrax Removal\"") == 1);
    events = CheckUserPartDone(2, 1603);
    REQUIRE(CountContaining(events, "the next logon tries it again") == 1);
    CHECK(StringValue(HKEY_CURRENT_USER, RunOnce, "Corvenhalde Plendrax Removal") ==
          StubCommand(3));
    REQUIRE(CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", store));
    seen = LogOn(3);
    CHECK(CountContaining(seen.report, "runonce \"Corvenhalde Plendrax Removal\"") == 1);
    CheckUserPartDone(3, 0);
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)), Converted) == 3);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));

    // Installed again and removed again: every user is due again. This user has no mail profile:
    // Outlook is not started, the rest is removed.
    // A user's part still runs from the kept copy (its image mapped, suspended here): that copy
    // serves as it is, and the new version is written.
    Restage();
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::None));
    std::string before = StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64);
    std::string line = StubCommand(1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION running;
    REQUIRE(CreateProcessA(Kept.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                           nullptr, nullptr, &startup, &running));
    DWORD deployed = DeployForAllUsers();
    TerminateProcess(running.hProcess, 1);
    WaitForSingleObject(running.hProcess, 10000);
    CloseHandle(running.hThread);
    CloseHandle(running.hProcess);
    REQUIRE(deployed == 0);
    CHECK(CountContaining(LastRunEvents(DefaultLog()), "is in use, by a user's part") == 1);
    CHECK(StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64) != before);
    DeleteFileA(DefaultLog().c_str());
    CheckStubRan(LogOn(1));
    events = CheckUserPartDone(1, 0);
    CHECK(CountContaining(events, "this user has no mail profile") == 1);
    CHECK(OutlookServerProcesses().empty());
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));

    // Removed for all users, then installed again before this user's logon: nothing of the new
    // installation's user is touched, and the log says why.
    Restage();
    StageOutlook(true);
    REQUIRE(DeployForAllUsers() == 0);
    Restage();
    DeleteFileA(DefaultLog().c_str());
    CheckStubRan(LogOn(0));
    events = LogEvents(DefaultLog());
    CHECK(CountContaining(events, "Plendrax is installed again") == 1);
    CHECK(events.back() == "Exit code: 0");
    CHECK(CountContaining(events, "unattended removal") == 0);
    CHECK_FALSE(Recorded("profile.out"));
    CHECK(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));

    // An administrator's own run of both parts for all users: this user is done and is not asked
    // again at the next logon.
    REQUIRE(DeployForAllUsers("/quiet /allusers %") == 0);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK(StringValue(HKEY_CURRENT_USER, Component, "Version") ==
          StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64));
    seen = LogOn(0);
    CHECK(CountContaining(seen.report, "stub \"Corvenhalde Plendrax Removal\"") == 0);

    // Where the stub's copy cannot be kept, nothing is registered and the run says so: 1603, for
    // the deployment's retry.
    std::string kept = sandbox::ProgramFiles() + "\\Plendrax Removal";
    REQUIRE(DeleteFileA((kept + "\\UninstallPX.exe").c_str()));
    REQUIRE(RemoveDirectoryA(kept.c_str()));
    REQUIRE(CreateFileWithText(kept));
    Restage();
    DeleteFileA(DefaultLog().c_str());
    CHECK(DeployForAllUsers() == 1603);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    events = LastRunEvents(DefaultLog());
    CHECK(CountContaining(events, "not registered, since the stub's copy could not be made") == 1);
    CHECK(events.back() == "Exit code: 1603");
}

TEST_CASE("quiet_allusers_jobs: a logon's job that refuses breakaway; a user done with a form "
          "left for a person; an administrator's run that leaves one; a hand-off that cannot "
          "start") {
    // The logon's job refuses breakaway: the stub starts the part in that job. The part leaves
    // a form for a person (1): done, not asked again.
    StageOutlook(false, FormLeftProfile);
    REQUIRE(DeployForAllUsers() == 0);
    DeleteFileA(DefaultLog().c_str());
    CheckStubRan(LogOn(1, "--job"));
    std::vector<std::string> events = CheckUserPartDone(1, 1);
    CHECK(CountContaining(events, "tries it again") == 0);
    CHECK_FALSE(ValueExists(HKEY_CURRENT_USER, RunOnce, "Corvenhalde Plendrax Removal"));
    CHECK(LogOn(0).report ==
          std::vector<std::string>{"skipped \"Corvenhalde Plendrax Removal\": the user's version " +
                                   StringValue(HKEY_CURRENT_USER, Component, "Version") +
                                   " is not lower"});

    // An administrator's run of both parts whose own Outlook leaves a form: 1, which deployment
    // tools take for success, so every other user's part is registered all the same.
    Restage();
    StageOutlook(false, FormLeftProfile);
    std::string before = StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64);
    REQUIRE(DeployForAllUsers("/quiet /allusers %") == 1);
    events = LastRunEvents(DefaultLog());
    CHECK(CountContaining(events, "registered as the Active Setup component") == 1);
    std::string version = StringValue(HKEY_LOCAL_MACHINE, Component, "Version", View::Wow64_64);
    CHECK(version != before);
    CHECK(StringValue(HKEY_CURRENT_USER, Component, "Version") == version);

    // The stub's program held back while it runs: the part cannot start, the next try is
    // arranged, and RunOnce, after Active Setup, runs it at this same logon.
    Restage();
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::None));
    REQUIRE(DeployForAllUsers() == 0);
    DeleteFileA(DefaultLog().c_str());
    LogonSeen seen = LogOn(2, "--stub-file-away");
    CHECK(CountContaining(seen.report, "stub \"Corvenhalde Plendrax Removal\": exit 1603") == 1);
    CHECK(CountContaining(seen.report, "runonce \"Corvenhalde Plendrax Removal\": exit 0") == 1);
    CHECK(CountContaining(LogEvents(DefaultLog()), "The user's part could not be started") == 1);
    CheckUserPartDone(2, 0);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
}

// Registered, then the machine restarts before the user logs on (tests/wine-run's restart).
TEST_CASE("quiet_allusers_restart: registered for all users before a restart") {
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::None));
    REQUIRE(DeployForAllUsers() == 0);
}

TEST_CASE("quiet_allusers_restarted: the component outlives the restart, and the user's part "
          "runs at the first logon after it") {
    CHECK(StringValue(HKEY_LOCAL_MACHINE, Component, "StubPath", View::Wow64_64) == StubCommand(1));
    DeleteFileA(DefaultLog().c_str());
    CheckStubRan(LogOn(1));
    CheckUserPartDone(1, 0);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
}
