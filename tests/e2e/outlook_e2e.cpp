// The Outlook stage end to end: the real uninstaller against the stand-in Outlook server and
// the stand-in MAPI32.DLL, both serving one sandbox profile. Outlook is a local server of its
// own, as users have it, unless a scenario says otherwise; after every run its process must
// be gone. Each scenario is a test of its own in a fresh prefix.
#include <doctest.h>

#include "app/resources/resource.h"
#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"
#include "tests/support/SandboxState.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Trimmed(const std::string& line) {
    size_t start = line.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : line.substr(start);
}

std::string LabelText(const RunResult& run, int id) {
    for (const LabelState& label : run.finalLabels)
        if (label.id == id)
            return label.visible ? label.text : "<hidden>";
    return "<missing>";
}

// Task folders of the profile whose items the record is checked for, with their items'
// classes in index order.
struct TaskFolder {
    std::string path;
    std::vector<std::string> classes;
};

const char BaseProfile[] = R"(store "Personal Folders" id=0A0B0C0D
  folder "Inbox" type=0 id=00AA00
    item "IPM.Task.Plendrax"
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
    item "IPM.TASK.PLENDRAX"
    item "IPM.Task"
    item "IPM.Task.PlendraxOld"
    item "IPM.Task.Plendrax"
    folder "Projects" type=3 id=00AA02
      item "IPM.Task.Plendrax"
    folder "Locked" type=3 id=00AA03 access=no
      item "IPM.Task.Plendrax"
store "Archive" id=0E0F1011
  folder "Old tasks" type=3 id=00BB01 msgclass="IPM.Task.Plendrax" displayname="PLENDRAX"
    item "IPM.Task"
    item "IPM.Task.Plendrax"
)";

const std::vector<TaskFolder> VisitedTaskFolders = {
    {"Personal Folders/Tasks",
     {"IPM.Task.Plendrax", "IPM.TASK.PLENDRAX", "IPM.Task", "IPM.Task.PlendraxOld",
      "IPM.Task.Plendrax"}},
    {"Personal Folders/Tasks/Projects", {"IPM.Task.Plendrax"}},
    {"Archive/Old tasks", {"IPM.Task", "IPM.Task.Plendrax"}},
};

struct Scenario {
    std::string profile = BaseProfile;
    bool extendedMapi = true;
    OutlookServer server = OutlookServer::Local;
    // DLLs named like those the uninstaller loads at run time, planted beside it and in its
    // current directory, C:\cwd.
    bool planted = false;
};

void Plant(const std::string& directory) {
    for (const char* name : {"MAPI32.DLL", "SrClient.DLL"})
        REQUIRE(CopyFileA(SANDBOX_DIRECTORY "Planted.dll", (directory + name).c_str(), FALSE));
}

struct Outcome {
    RunResult run;
    bool serverGone = false;          // the local server's process, soon after the run
    std::vector<std::string> outlook; // the stand-in's record
    std::vector<std::string> state;   // the profile after the run, trimmed lines
    std::string documents;            // what was opened
};

// When a label first showed, relative to the answer to the confirmation; 0 when it never did.
DWORD LabelShownAfter(const RunResult& run, int id) {
    for (const LabelChange& change : run.changes)
        if (change.label.id == id && change.label.visible)
            return change.tick - run.answerTick;
    return 0;
}

Outcome RunScenario(const Scenario& scenario) {
    RegisterOutlookStandin(scenario.server);
    SetExtendedMapi(scenario.extendedMapi);
    CreateDirectoryA(SANDBOX_DIRECTORY, nullptr);
    CreateDirectoryA(SANDBOX_LOG_DIRECTORY, nullptr);
    for (const char* log :
         {"outlook.log", "mapi32.log", "profile.log", "profile.out", "recorder.log"})
        DeleteFileA((std::string(SANDBOX_LOG_DIRECTORY) + log).c_str());
    CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", scenario.profile);

    RunOptions options;
    options.commandLine =
        std::string("\"" + sandbox::Uninstaller() + "\" %") + sandbox::InstallDirectory();
    if (scenario.planted) {
        CreateDirectoryA("C:\\cwd", nullptr);
        Plant("C:\\cwd\\");
        Plant(sandbox::UninstallerDirectory());
        options.currentDirectory = "C:\\cwd";
    }
    Outcome outcome;
    outcome.run = RunUninstaller(options);
    INFO(DescribeRun(outcome.run));
    REQUIRE(outcome.run.started);
    REQUIRE(outcome.run.final.seen);
    REQUIRE(outcome.run.exited);
    // No Outlook left behind: the server had no client left and has ended, having written
    // its part of the profile's state.
    outcome.serverGone = OutlookServersGone();
    CHECK(outcome.serverGone);
    if (scenario.server == OutlookServer::Local)
        CHECK(OutlookServerProcesses().size() == 1);
    outcome.outlook = ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log");
    CHECK(OutlookMembersNotFound().empty());
    for (const std::string& line : ReadLines(SANDBOX_LOG_DIRECTORY "profile.out"))
        outcome.state.push_back(Trimmed(line));
    outcome.documents = ReadWholeFile(SANDBOX_LOG_DIRECTORY "recorder.log");
    return outcome;
}

std::string Invoke(const std::string& object, const char* member, int flags) {
    return "invoke object=\"" + object + "\" member=" + member + " flags=" + std::to_string(flags) +
           " ";
}

// Every item of a visited task folder: fetched once and its class read once; a Plendrax item
// in addition written once and saved once, and nothing else.
void CheckItemCalls(const Outcome& outcome) {
    for (const TaskFolder& folder : VisitedTaskFolders) {
        for (size_t n = 0; n < folder.classes.size(); ++n) {
            std::string index = std::to_string(n + 1);
            std::string item = folder.path + "#" + index;
            bool plendrax = folder.classes[n] == "IPM.Task.Plendrax";
            CAPTURE(item);
            CHECK(CountContaining(outcome.outlook,
                                  Invoke(folder.path + ".Items", "Item", DISPATCH_METHOD),
                                  "args=[I4:" + index + "]") == 1);
            CHECK(CountContaining(outcome.outlook,
                                  Invoke(item, "MessageClass", DISPATCH_PROPERTYGET)) == 1);
            CHECK(CountContaining(outcome.outlook,
                                  Invoke(item, "MessageClass", DISPATCH_PROPERTYPUT),
                                  "args=[BSTR:IPM.Task]") == (plendrax ? 1u : 0u));
            CHECK(CountContaining(outcome.outlook, Invoke(item, "Save", DISPATCH_METHOD)) ==
                  (plendrax ? 1u : 0u));
            CHECK(CountContaining(outcome.outlook, "invoke object=\"" + item + "\"") ==
                  (plendrax ? 3u : 1u));
        }
    }
}

// The stand-in saw every reference released, and none released once too often.
void CheckReferences(const Outcome& outcome) {
    CHECK(CountContaining(outcome.outlook, "last release object=\"outlook\" live=0") == 1);
    CHECK(CountContaining(outcome.outlook, "after its last release") == 0);
}

// The profile after the run: the converted items, the untouched ones, no temporary item.
const std::vector<std::string> ConvertedItems = {
    "item \"IPM.Task.Plendrax\" saved=0",    // Inbox: not a task folder
    "item \"IPM.Task\" saved=1",             // Tasks
    "item \"IPM.TASK.PLENDRAX\" saved=0",    //
    "item \"IPM.Task\" saved=0",             //
    "item \"IPM.Task.PlendraxOld\" saved=0", //
    "item \"IPM.Task\" saved=1",             //
    "item \"IPM.Task\" saved=1",             // Projects
    "item \"IPM.Task.Plendrax\" saved=0",    // Locked: not accessible
    "item \"IPM.Task\" saved=0",             // Old tasks
    "item \"IPM.Task\" saved=1",             //
};

std::vector<std::string> ItemLines(const Outcome& outcome) {
    std::vector<std::string> items;
    for (const std::string& line : outcome.state)
        if (line.compare(0, 5, "item ") == 0)
            items.push_back(line);
    return items;
}

std::string FolderLine(const Outcome& outcome, const std::string& name) {
    for (const std::string& line : outcome.state)
        if (line.compare(0, 8 + name.size(), "folder \"" + name) == 0)
            return line;
    return "<missing>";
}

} // namespace

// DLLs planted beside the uninstaller and in its current directory are never loaded: the run
// is the full run with the system's own (here the stand-ins).
void CheckAllDone(const Outcome& outcome) {
    INFO(DescribeRun(outcome.run));
    CHECK(ReadLines(SANDBOX_LOG_DIRECTORY "planted.log").empty());
    CHECK(FileExists(sandbox::UninstallerDirectory() + "MAPI32.DLL"));
    CHECK(RestoreRequests().size() == 2);
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_UNINSTALLED));
    CHECK(outcome.run.final.icon == MB_ICONINFORMATION);
    CHECK(outcome.documents.find("UninstallPX.doc") == std::string::npos);
    CHECK(FolderLine(outcome, "Tasks") ==
          "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" displayname=\"Task\"");
    // A form name that differs from the Plendrax form's only in case is the Plendrax form.
    CHECK(FolderLine(outcome, "Old tasks") ==
          "folder \"Old tasks\" type=3 id=00BB01 msgclass=\"IPM.Task\" displayname=\"Task\"");
    CHECK(ItemLines(outcome) == ConvertedItems);
    CheckItemCalls(outcome);
    CheckReferences(outcome);
    // One temporary item per visited task folder, each discarded unsaved.
    CHECK(CountContaining(outcome.outlook, "member=Add ") == 3);
    CHECK(CountContaining(outcome.outlook, "member=Close flags=1 args=[I4:1]") == 3);
    // The form was reset before the folder's first item was fetched.
    size_t reset = outcome.outlook.size(), firstItem = 0;
    for (size_t n = 0; n < outcome.outlook.size(); ++n) {
        if (outcome.outlook[n].find(Invoke("Personal Folders/Tasks", "StoreID", 2)) !=
            std::string::npos)
            reset = n;
        if (firstItem == 0 && outcome.outlook[n].find(Invoke("Personal Folders/Tasks.Items", "Item",
                                                             1)) != std::string::npos)
            firstItem = n;
    }
    CHECK(reset < firstItem);
    for (int id : {IDC_FILES_RESULT, IDC_REGISTRY_RESULT, IDC_SHORTCUT_RESULT})
        CHECK(LabelText(outcome.run, id) == "Done");
    CHECK(!FileExists(sandbox::InstallDirectory()));
}

TEST_CASE("outlook_all_done: the Plendrax form is reset, the items converted, string 5") {
    Scenario scenario;
    scenario.planted = true;
    CheckAllDone(RunScenario(scenario));
}

TEST_CASE("outlook_all_done_inprocess: the same end state with Outlook's in-process server") {
    Scenario scenario;
    scenario.planted = true;
    scenario.server = OutlookServer::InProcess;
    CheckAllDone(RunScenario(scenario));
}

TEST_CASE("outlook_busy: rejected at the walk's start, busy again midway; all converted once") {
    Scenario scenario;
    // The walk's first call (the 4th: creation, namespace, its folders) and what follows are
    // rejected for two seconds; later an item's calls are answered RETRYLATER for one.
    scenario.profile += "busy outlook 4 2000\nbusy outlook 40 1000 retrylater\n";
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_UNINSTALLED));
    CHECK(CountContaining(outcome.outlook, "busy: incoming call rejected") >= 2);
    CHECK(CountContaining(outcome.outlook, "-> 0x8001010A") >= 2);
    CHECK(FolderLine(outcome, "Tasks") ==
          "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" displayname=\"Task\"");
    CHECK(ItemLines(outcome) == ConvertedItems);
    CheckItemCalls(outcome);
    CheckReferences(outcome);
}

TEST_CASE("outlook_busy_too_long: the stage fails after the bounded wait, the rest runs") {
    Scenario scenario;
    scenario.profile += "busy outlook 4 60000\n";
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == UninstallerString(IDS_FAILED));
    // Ten seconds of asking again, then at once "Failed" (Outlook's start takes about one),
    // well before the server's busy minute is over; the margin is for a loaded machine.
    DWORD failedAfter = LabelShownAfter(outcome.run, IDC_CONVERT_RESULT);
    CHECK(failedAfter >= 10000);
    CHECK(failedAfter < 10000 + 20000);
    for (int id : {IDC_FILES_RESULT, IDC_REGISTRY_RESULT, IDC_SHORTCUT_RESULT})
        CHECK(LabelText(outcome.run, id) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_NOT_ALL_REMOVED_MANUAL));
    CHECK(outcome.documents.find("UninstallPX.doc") != std::string::npos);
    CHECK(CountContaining(outcome.outlook, "member=Count") == 0);
    CHECK(CountContaining(outcome.state, "saved=1") == 0);
    CheckReferences(outcome);
}

TEST_CASE("outlook_server_closes: Outlook ends midway; Failed, string 8, the removal done") {
    Scenario scenario;
    // During the save of the Tasks folder's last Plendrax item.
    scenario.profile += "close \"Personal Folders/Tasks#5\" Save 1\n";
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == UninstallerString(IDS_FAILED));
    for (int id : {IDC_FILES_RESULT, IDC_REGISTRY_RESULT, IDC_SHORTCUT_RESULT})
        CHECK(LabelText(outcome.run, id) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_NOT_ALL_REMOVED_MANUAL));
    CHECK(outcome.run.final.icon == MB_ICONEXCLAMATION);
    CHECK(outcome.documents.find("UninstallPX.doc") != std::string::npos);
    // The run's own length is its pauses (three of a second, one after the document) and
    // little more: no call waited on the closed server (the margin is for a loaded machine).
    CHECK(outcome.run.final.tick - outcome.run.answerTick < 4000 + 20000);
    CHECK(CountContaining(outcome.outlook, "server closes") == 1);
    // What was saved before the close stays; the item being saved and all after it do not.
    CHECK(FolderLine(outcome, "Tasks") ==
          "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" displayname=\"Task\"");
    std::vector<std::string> expected = ConvertedItems;
    expected[5] = "item \"IPM.Task.Plendrax\" saved=0"; // Tasks#5
    expected[6] = "item \"IPM.Task.Plendrax\" saved=0"; // Projects
    expected[9] = "item \"IPM.Task.Plendrax\" saved=0"; // Old tasks
    CHECK(ItemLines(outcome) == expected);
}

TEST_CASE("outlook_bad_answers: odd answers across the process boundary skip, never crash") {
    Scenario scenario;
    scenario.profile +=
        // An item handed back as IUnknown that refuses IDispatch: the query crosses to Outlook.
        "answer \"Personal Folders/Tasks.Items\" Item 1 unknown\n"
        "fail \"Personal Folders/Tasks#1\" IDispatch *\n"
        // A null class, a class of another type, a null entry id, a folder type as text.
        "answer \"Personal Folders/Tasks#5\" MessageClass 1 null\n"
        "answer \"Archive/Old tasks#2\" MessageClass 1 wrongtype\n"
        "answer \"Personal Folders/Tasks\" EntryID 1 null\n"
        "answer \"Personal Folders/Inbox\" DefaultItemType 1 wrongtype\n";
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_UNINSTALLED_MANUAL));
    CHECK(outcome.documents.find("UninstallPX.doc") != std::string::npos);
    for (const char* answer : {"answered=unknown", "answered=null", "answered=wrongtype"})
        CHECK(CountContaining(outcome.outlook, answer) >= 1);
    CHECK(CountContaining(outcome.outlook, "QueryInterface object=\"Personal Folders/Tasks#1\"") ==
          1);
    // Only the item nothing odd happened to is converted; the form reset could not be made.
    std::vector<std::string> expected = ConvertedItems;
    expected[1] = "item \"IPM.Task.Plendrax\" saved=0"; // Tasks#1, refused IDispatch
    expected[5] = "item \"IPM.Task.Plendrax\" saved=0"; // Tasks#5, null class
    expected[9] = "item \"IPM.Task.Plendrax\" saved=0"; // Old tasks#2, class of another type
    CHECK(ItemLines(outcome) == expected);
    CHECK(FolderLine(outcome, "Tasks") == "folder \"Tasks\" type=3 id=00AA01 "
                                          "msgclass=\"IPM.Task.Plendrax\" "
                                          "displayname=\"Plendrax\"");
    CheckReferences(outcome);
}

// Without Extended MAPI the interactive run converts every item, probes no folder, leaves the
// forms as they were and hands them to its user with the document.
void CheckFormsLeftToUser(const Outcome& outcome) {
    INFO(DescribeRun(outcome.run));
    CHECK(outcome.run.final.caption == "Plendrax");
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_UNINSTALLED_MANUAL));
    CHECK(outcome.run.final.icon == MB_ICONINFORMATION);
    CHECK(outcome.documents.find("UninstallPX.doc") != std::string::npos);
    CHECK(CountContaining(outcome.outlook, "member=Add ") == 0);
    CHECK(CountContaining(outcome.outlook, "member=FormDescription ") == 0);
    CHECK(FolderLine(outcome, "Tasks") == "folder \"Tasks\" type=3 id=00AA01 "
                                          "msgclass=\"IPM.Task.Plendrax\" "
                                          "displayname=\"Plendrax\"");
    CHECK(ItemLines(outcome) == ConvertedItems);
    CheckItemCalls(outcome);
    CheckReferences(outcome);
    CHECK(CountContaining(outcome.outlook, "member=PropertyAccessor ") == 0);
}

TEST_CASE("outlook_no_extended_mapi: items converted, no probe, string 7, document opened") {
    Scenario scenario;
    scenario.extendedMapi = false;
    CheckFormsLeftToUser(RunScenario(scenario));
}

// Office says Outlook is of the other bitness: MAPI32.DLL, whose stub would put a system box in
// front of the user, is never even loaded, and the run is the one without Extended MAPI.
TEST_CASE("outlook_other_bitness: MAPI32.DLL never loaded, no box of its own, string 7") {
    REQUIRE(RecordOutlookBitness(OtherBitness(), sandbox::OutlookKeyBitness));
    CheckFormsLeftToUser(RunScenario(Scenario()));
    CHECK(ReadLines(SANDBOX_LOG_DIRECTORY "mapi32.log").empty());
}

TEST_CASE("outlook_reset_fails: the default form stays, items converted, string 7") {
    Scenario scenario;
    // The display name is not the Plendrax form's: the reset refuses to touch the folder.
    std::string from = "displayname=\"Plendrax\"";
    scenario.profile.replace(scenario.profile.find(from), from.size(), "displayname=\"Mine\"");
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(outcome.run.final.text == UninstallerString(IDS_UNINSTALLED_MANUAL));
    CHECK(outcome.documents.find("UninstallPX.doc") != std::string::npos);
    CHECK(FolderLine(outcome, "Tasks") == "folder \"Tasks\" type=3 id=00AA01 "
                                          "msgclass=\"IPM.Task.Plendrax\" displayname=\"Mine\"");
    CHECK(ItemLines(outcome) == ConvertedItems);
    CheckItemCalls(outcome);
    CheckReferences(outcome);
}

TEST_CASE("outlook_namespace_fails: stage Failed, nothing converted, string 8") {
    Scenario scenario;
    scenario.profile += "fail outlook GetNamespace * 0x80004005\n";
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == UninstallerString(IDS_FAILED));
    CHECK(outcome.run.final.text == UninstallerString(IDS_NOT_ALL_REMOVED_MANUAL));
    CHECK(outcome.documents.find("UninstallPX.doc") != std::string::npos);
    CHECK(CountContaining(outcome.outlook, "member=GetNamespace", "scode=0x80004005") == 1);
    CHECK(CountContaining(outcome.outlook, "member=Folders") == 0);
    std::vector<std::string> untouched;
    for (const char* line :
         {"IPM.Task.Plendrax", "IPM.Task.Plendrax", "IPM.TASK.PLENDRAX", "IPM.Task",
          "IPM.Task.PlendraxOld", "IPM.Task.Plendrax", "IPM.Task.Plendrax", "IPM.Task.Plendrax",
          "IPM.Task", "IPM.Task.Plendrax"})
        untouched.push_back("item \"" + std::string(line) + "\" saved=0");
    CHECK(ItemLines(outcome) == untouched);
    CheckReferences(outcome);
}

TEST_CASE("outlook_files_fail: everything converted, a removal stage fails, string 3") {
    CreateFileWithText(sandbox::InstallDirectory() + "My notes.txt", "keep me");
    Outcome outcome = RunScenario(Scenario());
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(LabelText(outcome.run, IDC_FILES_RESULT) == UninstallerString(IDS_FAILED));
    CHECK(outcome.run.final.text == UninstallerString(IDS_NOT_ALL_REMOVED));
    CHECK(outcome.run.final.icon == MB_ICONEXCLAMATION);
    CHECK(outcome.documents.find("UninstallPX.doc") == std::string::npos);
    CHECK(ReadWholeFile(sandbox::InstallDirectory() + "My notes.txt") == "keep me");
    CHECK(ItemLines(outcome) == ConvertedItems);
    CheckReferences(outcome);
}
