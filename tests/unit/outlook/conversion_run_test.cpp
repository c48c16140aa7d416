#include <doctest.h>

#include "outlook/ConversionRun.h"

#include <objbase.h>

#include <cstring>
#include <string>

namespace {

// Each case runs on a thread of its own, so that it starts with COM not initialised.
struct RunOnThread {
    bool comFirst = false; // initialise COM on the thread before the run
    bool result = true;
    bool manualSteps = false;
    HRESULT initialisedAfter = E_FAIL; // CoInitialize's answer after the run
};

DWORD WINAPI RunConversion(void* parameter) {
    RunOnThread* run = static_cast<RunOnThread*>(parameter);
    if (run->comFirst && CoInitialize(nullptr) != S_OK)
        return 1;
    ConversionFigures figures;
    run->result = ConversionRun(&run->manualSteps, ConversionRequest(), figures);
    if (run->comFirst)
        CoUninitialize();
    // S_OK now means that COM was left uninitialised on the thread; S_FALSE that the run
    // left one initialisation of its own behind.
    run->initialisedAfter = CoInitialize(nullptr);
    CoUninitialize();
    if (run->initialisedAfter == S_FALSE)
        CoUninitialize();
    return 0;
}

void Run(RunOnThread& run) {
    HANDLE thread = CreateThread(nullptr, 0, RunConversion, &run, 0, nullptr);
    REQUIRE(thread != nullptr);
    DWORD waited = WaitForSingleObject(thread, 60000);
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    REQUIRE(waited == WAIT_OBJECT_0);
    REQUIRE(exitCode == 0);
}

} // namespace

TEST_CASE("COM already initialised: false, flag true, CoUninitialize not called") {
    RunOnThread run;
    run.comFirst = true;
    Run(run);
    CHECK_FALSE(run.result);
    CHECK(run.manualSteps);
    // The run's own CoInitialize (S_FALSE) was not undone.
    CHECK(run.initialisedAfter == S_FALSE);
}

TEST_CASE("Outlook cannot be created: false, flag true, COM uninitialised again") {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F03A-0000-0000-C000-000000000046}");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F033-0000-0000-C000-000000000046}");
    RunOnThread run;
    Run(run);
    CHECK_FALSE(run.result);
    CHECK(run.manualSteps);
    CHECK(run.initialisedAfter == S_OK);
}

namespace {

void SetText(const char* key, const char* name, const char* text) {
    HKEY opened;
    REQUIRE(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened,
                            nullptr) == ERROR_SUCCESS);
    RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   DWORD(std::strlen(text) + 1));
    RegCloseKey(opened);
}

void ClearProfiles() {
    for (const char* key : {"Software\\Microsoft\\Office", "Software\\Microsoft\\Exchange",
                            "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging "
                            "Subsystem"})
        RegDeleteTreeA(HKEY_CURRENT_USER, key);
}

const char office15[] = "Software\\Microsoft\\Office\\15.0\\Outlook";

} // namespace

TEST_CASE("the user's mail profiles: where they are, the default, the prompt") {
    ClearProfiles();
    CHECK(ReadMailProfiles().state == MailProfileState::None);
    // An empty Profiles key holds no profile; 15.0's is used when 16.0 has none.
    HKEY empty;
    REQUIRE(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles",
                          &empty) == ERROR_SUCCESS);
    RegCloseKey(empty);
    SetText((std::string(office15) + "\\Profiles\\Work\\0a0d020000000000c000000000000046").c_str(),
            "x", "y");
    MailProfiles profiles = ReadMailProfiles();
    CHECK(profiles.state == MailProfileState::NoDefault);
    CHECK(profiles.count == 1);
    CHECK(std::string(profiles.place) == std::string(office15) + "\\Profiles");
    // A default that names no profile there is none.
    SetText(office15, "DefaultProfile", "Home");
    CHECK(ReadMailProfiles().state == MailProfileState::NoDefault);
    SetText(office15, "DefaultProfile", "Work");
    profiles = ReadMailProfiles();
    CHECK(profiles.state == MailProfileState::Default);
    CHECK(profiles.defaultName == "Work");
    // The prompt wins over the default, as a number too; "0" is no prompt.
    const char options[] = "Software\\Microsoft\\Exchange\\Client\\Options";
    SetText(options, "PickLogonProfile", "0");
    CHECK(ReadMailProfiles().state == MailProfileState::Default);
    SetText(options, "PickLogonProfile", "1");
    CHECK(ReadMailProfiles().state == MailProfileState::Prompt);
    HKEY key;
    REQUIRE(RegOpenKeyExA(HKEY_CURRENT_USER, options, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExA(key, "PickLogonProfile", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   sizeof one);
    RegCloseKey(key);
    CHECK(ReadMailProfiles().state == MailProfileState::Prompt);
    ClearProfiles();
}

TEST_CASE("no profile: unattended, Outlook is neither found nor created; interactive, it is "
          "created all the same") {
    ClearProfiles();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F03A-0000-0000-C000-000000000046}");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F033-0000-0000-C000-000000000046}");
    ConversionRequest unattended;
    unattended.nobodyToAnswerOutlook = true;
    for (bool nobody : {true, false}) {
        CAPTURE(nobody);
        bool manualSteps = false;
        ConversionFigures figures;
        CHECK_FALSE(
            ConversionRun(&manualSteps, nobody ? unattended : ConversionRequest(), figures));
        CHECK(manualSteps);
        CHECK_FALSE(figures.outlookWasRunning);
        CHECK(figures.outlookResult == (nobody ? S_FALSE : REGDB_E_CLASSNOTREG));
        CHECK(OutlookNotStarted(figures) == nobody);
        CHECK(figures.profiles.state ==
              (nobody ? MailProfileState::None : MailProfileState::NotRead));
    }
}
