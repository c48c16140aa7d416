// Unattended removal end to end, the user's part as Outlook is set up for the user: never set
// up, set to prompt for a profile, with no default (none named, one gone, or one in an older
// place only), already open, with profiles where Outlook before 2013 kept them; and the interactive
// run with a user who never set up Outlook, as it always was. The real UninstallPX.exe in a sandbox
// prefix, watched by the sandbox user, who must see no window of it nor of an Outlook it starts.
#include <doctest.h>

#include "tests/e2e/QuietRun.h"

#include <string>
#include <vector>

namespace {

// Outlook started by a person: its main window shown, its application object in the running
// object table.
bool StartOutlookByHand(PROCESS_INFORMATION& outlook) {
    RunOptions options;
    options.applicationPath = SANDBOX_DIRECTORY "OutlookStandin.exe";
    options.commandLine = "\"" SANDBOX_DIRECTORY "OutlookStandin.exe\"";
    if (!StartProgram(options, outlook))
        return false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(50))
        if (FindWindowA(nullptr, "Inbox - Outlook") != nullptr)
            return true;
    return false;
}

// The person at the screen answers Outlook's own box with OK, whichever process shows it.
DWORD WINAPI AnswerOutlooksBox(void* caption) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(20)) {
        HWND box = FindWindowA("#32770", static_cast<const char*>(caption));
        if (box != nullptr && IsWindowVisible(box)) {
            Press(box, IDOK);
            return 0;
        }
    }
    return 1;
}

const std::string Converted = "item \"IPM.Task\" saved=1";

} // namespace

TEST_CASE("quiet_outlook_profiles: Outlook never set up, set to prompt, already open, or of "
          "before 2013; the interactive run as always") {
    // A user who never set up Outlook: no profile, Outlook not running. Nothing is started,
    // there is nothing of this user's to convert, and the user's part is done.
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::None));
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 0);
    CHECK(OutlookServerProcesses().empty());
    CHECK_FALSE(Recorded("mapi32.log"));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook is not running, and this user has no mail profile (none in "
                        "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles, "
                        "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles "
                        "or HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
                        "Windows Messaging Subsystem\\Profiles): Outlook was not started, and "
                        "there is no Outlook data of this user on this machine to convert") == 1);
    CHECK(CountContaining(events, "Reaching Outlook") == 0);
    CHECK(Count(events, "Stage 1 of 4, Outlook conversion: done") == 1);
    CHECK(events.back() == "Exit code: 0");

    // Set to prompt for a profile, or with profiles of which none is the default: Outlook would
    // ask. It is not started; the removal is not finished, and the log says what to do.
    Restage();
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::Prompt));
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1603);
    CHECK(OutlookServerProcesses().empty());
    CHECK_FALSE(Recorded("profile.out"));
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::NoDefault));
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1603);
    CHECK(OutlookServerProcesses().empty());
    // So is a default that names a profile no longer there; and a user upgraded from an older
    // Outlook, whose older place names a default, has none: the first place that holds profiles
    // is the one Outlook uses.
    using sandbox::profiles::SetText;
    REQUIRE(SetText(sandbox::DefaultProfileKeys[0], "DefaultProfile", "Gone"));
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1603);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::Older));
    REQUIRE(
        SetText((std::string(sandbox::ProfilesKeys[0]) + "\\Home\\9375CFF0413111d3B88A00104B2A6676")
                    .c_str(),
                "Account Name", "Outlook Data File"));
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1603);
    CHECK(OutlookServerProcesses().empty());
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook is not running, and it is set to prompt for a profile at start "
                        "(HKEY_CURRENT_USER\\Software\\Microsoft\\Exchange\\Client\\Options, value "
                        "PickLogonProfile): Outlook was not started, since its Choose Profile box "
                        "would wait for a person. Run the removal again while Outlook is open, or "
                        "set Outlook to always use one profile (Control Panel, Mail, Show "
                        "Profiles)") == 1);
    CHECK(Count(events, "Outlook is not running, and none of the 1 mail profiles in "
                        "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles "
                        "is the default: Outlook was not started, since it would ask for one and "
                        "wait for a person. Run the removal again while Outlook is open, or set a "
                        "default profile (Control Panel, Mail, Show Profiles)") == 3);
    CHECK(Count(events, "Stage 1 of 4, Outlook conversion: failed") == 4);
    CHECK(Count(events, "Exit code: 1603") == 4);

    // Run again while Outlook is open, set to prompt all the same: the Outlook running is used
    // as it is, and stays open; no other is started.
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::Prompt));
    PROCESS_INFORMATION outlook;
    REQUIRE(StartOutlookByHand(outlook));
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory, true) == 0);
    CHECK(WaitForSingleObject(outlook.hProcess, 0) == WAIT_TIMEOUT);
    CHECK(OutlookServerProcesses().size() == 1);
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook is running: used as it is, with its profile") == 1);
    CHECK(CountContaining(events, "mail profile") == 0);
    CHECK(CountContaining(events, "items converted: 3; items failed: 0; default forms reset: 1") ==
          1);
    CHECK(events.back() == "Exit code: 0");
    // Its person closes it; it writes the profile as it ends.
    PostMessageA(FindWindowA(nullptr, "Inbox - Outlook"), WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    CHECK(WaitForExit(outlook, 30000, exitCode));
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)), Converted) == 3);

    // Profiles as Outlook before 2013 kept them, with a default: Outlook is started for it.
    Restage();
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::Older));
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 0);
    CHECK(OutlookServerProcesses().size() == 1);
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)), Converted) == 3);
    CHECK(Count(LogEvents(DefaultLog()),
                "Outlook is not running; it is started with the default mail profile \"Outlook\" "
                "(HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
                "Messaging Subsystem\\Profiles)") == 1);

    // The interactive run does as it always did: Outlook is started whatever the user has, and
    // its first-run box waits for the person there, who answers it; the items are converted.
    Restage();
    StageOutlook(true);
    REQUIRE(sandbox::RecordMailProfile(sandbox::MailProfile::None));
    HANDLE person = CreateThread(nullptr, 0, AnswerOutlooksBox,
                                 const_cast<char*>("Welcome to Outlook"), 0, nullptr);
    REQUIRE(person != nullptr);
    RunResult run = Run(Uninstaller("%" + installDirectory));
    CHECK(WaitForSingleObject(person, 60000) == WAIT_OBJECT_0);
    DWORD answered = 1;
    GetExitCodeThread(person, &answered);
    CloseHandle(person);
    CHECK(answered == 0);
    CheckFullRunWindows(run, "Done");
    CHECK(OutlookServersGone(5000));
    std::vector<std::string> outlookLog = ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log");
    CHECK(Count(outlookLog, "box shown caption=\"Welcome to Outlook\"") == 1);
    CHECK(Count(outlookLog, "box answered 1") == 1);
    CHECK(CountContaining(SplitLines(ReadWholeFile(OutlookOut)), Converted) == 3);
}

TEST_CASE("quiet_outlook_classes: an Outlook that registers only today's class; a task folder "
          "whose default form cannot be examined") {
    // Outlook 2000 and later need not register Outlook 98's class beside their own.
    StageOutlook(true);
    for (const char* oldClass : {"CLSID\\" SANDBOX_OUTLOOK_OLD_CLASS "\\LocalServer32",
                                 "CLSID\\" SANDBOX_OUTLOOK_OLD_CLASS})
        REQUIRE(RegDeleteKeyA(HKEY_CLASSES_ROOT, oldClass) == ERROR_SUCCESS);
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 0);
    std::vector<std::string> state = SplitLines(ReadWholeFile(OutlookOut));
    CHECK(CountContaining(state, Converted) == 3);
    CHECK(CountContaining(state, "folder \"Tasks\"",
                          "msgclass=\"IPM.Task\" displayname=\"Task\"") == 1);
    CHECK(LogEvents(DefaultLog()).back() == "Exit code: 0");

    // Outlook refuses the probe's temporary item in one folder: nobody knows that folder's
    // form, so a person has to look at it. Everything else is done.
    Restage();
    StageOutlook(true,
                 std::string(Profile) + "fail \"Archive/Old tasks.Items\" Add * 0x80004005\n");
    DeleteFileA(DefaultLog().c_str());
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 1);
    state = SplitLines(ReadWholeFile(OutlookOut));
    CHECK(CountContaining(state, Converted) == 3);
    std::vector<std::string> events = LogEvents(DefaultLog());
    CHECK(Count(events,
                "Default form left for a person to reset: folder \"Old tasks\": its default "
                "form could not be examined (error 0x80004005)") == 1);
    CHECK(events.back() == "Exit code: 1");
}
