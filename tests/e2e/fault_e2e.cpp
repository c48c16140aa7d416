// The whole uninstaller with the k-th call of a stand-in failing (SANDBOX_FAIL_CALL): every
// System Restore request, and a sample of the Outlook stand-in's calls, Outlook being a local
// server. Whatever fails, the run ends with its final message and exit code 0, Outlook gets
// every reference back and its process ends. The conversion's outcome for each failing call
// is checked in the in-process fault sweep. Also a run over a large profile, where the
// progress window must keep up.
#include <doctest.h>

#include "app/resources/resource.h"
#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"
#include "tests/e2e/UninstallerRun.h"
#include "tests/support/SandboxState.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

const char Profile[] = R"(store "Personal Folders" id=0A0B0C0D
  folder "Inbox" type=0 id=00AA00
    item "IPM.Task.Plendrax"
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
    item "IPM.Task"
    item "IPM.Task.Plendrax"
    folder "Projects" type=3 id=00AA02
      item "IPM.Task.Plendrax"
store "Archive" id=0E0F1011
  folder "Old tasks" type=3 id=00BB01
    item "IPM.Task.Plendrax"
)";

void Prepare(const std::string& profile, OutlookServer server = OutlookServer::Local) {
    RegisterOutlookStandin(server);
    SetExtendedMapi(true);
    for (const char* log : {"outlook.log", "profile.out", "srclient.log"})
        DeleteFileA((std::string(SANDBOX_LOG_DIRECTORY) + log).c_str());
    CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", profile);
}

RunOptions FullRun() {
    RunOptions options;
    options.commandLine =
        std::string("\"" + sandbox::Uninstaller() + "\" %") + sandbox::InstallDirectory();
    return options;
}

void RunWithFailingCall(const std::string& failCall) {
    CAPTURE(failCall);
    Prepare(Profile);
    SetEnvironmentVariableA("SANDBOX_FAIL_CALL", failCall.c_str());
    RunResult run = RunUninstaller(FullRun());
    SetEnvironmentVariableA("SANDBOX_FAIL_CALL", nullptr);
    INFO(DescribeRun(run));
    REQUIRE(run.started);
    CHECK_FALSE(run.timedOut);
    CHECK(run.exited);
    CHECK(run.exitCode == 0);
    CHECK(run.final.seen);
    std::string converted;
    for (const LabelState& label : run.finalLabels)
        if (label.id == IDC_CONVERT_RESULT)
            converted = label.text;
    CHECK((converted == "Done" || converted == UninstallerString(IDS_FAILED)));
    CHECK(OutlookServersGone());

    std::vector<std::string> outlook = ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log");
    CHECK(CountContaining(outlook, "after its last release") == 0);
    if (CountContaining(outlook, "create -> 0x00000000") == 1)
        CHECK(CountContaining(outlook, "last release object=\"outlook\" live=0") == 1);
    // No item is saved twice, whatever failed.
    std::vector<std::string> state = ReadLines(SANDBOX_LOG_DIRECTORY "profile.out");
    CHECK(CountContaining(state, "item ") >= 6);
    CHECK(CountContaining(state, "saved=2") == 0);
    // Begin and end are both asked for whatever failed; a failed begin leaves no sequence
    // number for the end.
    std::vector<RestoreRequest> requests = RestoreRequests();
    REQUIRE(requests.size() == 2);
    CHECK(requests[0].event == 100);
    CHECK(requests[1].event == 101);
    CHECK(requests[1].sequence == (failCall == "srclient:1" ? 0 : 57));
}

} // namespace

TEST_CASE("fault_srclient: each System Restore request failing in turn") {
    for (int call = 1; call <= 2; ++call)
        RunWithFailingCall("srclient:" + std::to_string(call));
}

TEST_CASE("fault_outlook: a sample of the Outlook stand-in's calls failing in turn") {
    // Of the clean run's 75 calls: the creation, the walk's first Count, the Tasks folder's
    // item Count (ends the walk midway), its probe's Add, and the save of its third item.
    for (int call : {1, 4, 19, 21, 36})
        RunWithFailingCall("outlook:" + std::to_string(call));
}

TEST_CASE("large_profile: 200,000 items, 100,000 of them in one folder; the labels keep order") {
    // One folder of 100,000 items, then 100 folders of 1,000.
    const int total = 200000;
    std::string profile = "store \"Big\" id=0A0B\r\n";
    for (int f = 0; f <= 100; ++f) {
        profile += "  folder \"F" + std::to_string(f) + "\" type=3\r\n";
        for (int i = 0; i < (f == 0 ? 100000 : 1000); ++i)
            profile += "    item \"IPM.Task.Plendrax\"\r\n";
    }
    // In-process: through a local server under Wine (about 0.4 ms a call, scripts/bench
    // conversion) the million calls would take seven minutes; the window's order is the same.
    Prepare(profile, OutlookServer::InProcess);
    // The stand-ins' records off: a line per call would make this run minutes long.
    SetEnvironmentVariableA("SANDBOX_BENCH", "1");
    RunResult run = RunUninstaller(FullRun());
    SetEnvironmentVariableA("SANDBOX_BENCH", nullptr);
    INFO(DescribeRun(run));
    REQUIRE(run.exited);
    CHECK(run.exitCode == 0);
    CHECK(run.final.seen);
    REQUIRE(run.progressSeen);
    // Seen while the conversion was still going on, then every label in the run's order:
    // a stage enabled, then its result shown.
    for (const LabelState& label : run.initialLabels)
        if (label.id == IDC_CONVERT_RESULT)
            CHECK_FALSE(label.visible);
    CheckStepsInTurn(run);
    for (const LabelState& label : run.finalLabels)
        if (label.id == IDC_CONVERT_RESULT)
            CHECK(label.text == "Done");
    std::vector<std::string> state = ReadLines(SANDBOX_LOG_DIRECTORY "profile.out");
    CHECK(CountContaining(state, "item \"IPM.Task\" saved=1") == size_t(total));
}
