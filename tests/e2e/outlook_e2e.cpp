// The Outlook stage end to end: the real uninstaller against the stand-in Outlook server and
// the stand-in MAPI32.DLL, both serving one sandbox profile. Each scenario is a test of its
// own in a fresh prefix.
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
    std::vector<std::string> outlook; // the stand-in's record
    std::vector<std::string> state;   // the profile after the run, trimmed lines
    std::string documents;            // what was opened
};

Outcome RunScenario(const Scenario& scenario) {
    RegisterOutlookStandin();
    SetExtendedMapi(scenario.extendedMapi);
    CreateDirectoryA(SANDBOX_DIRECTORY, nullptr);
    CreateDirectoryA(SANDBOX_LOG_DIRECTORY, nullptr);
    for (const char* log :
         {"outlook.log", "mapi32.log", "profile.log", "profile.out", "recorder.log"})
        DeleteFileA((std::string(SANDBOX_LOG_DIRECTORY) + log).c_str());
    CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", scenario.profile);

    RunOptions options;
    options.commandLine = std::string("\"" SANDBOX_UNINSTALLER "\" %") + SANDBOX_INSTALL_DIRECTORY;
    if (scenario.planted) {
        CreateDirectoryA("C:\\cwd", nullptr);
        Plant("C:\\cwd\\");
        Plant(SANDBOX_UNINSTALLER_DIRECTORY);
        options.currentDirectory = "C:\\cwd";
    }
    Outcome outcome;
    outcome.run = RunUninstaller(options);
    INFO(DescribeRun(outcome.run));
    REQUIRE(outcome.run.started);
    REQUIRE(outcome.run.final.seen);
    REQUIRE(outcome.run.exited);
    outcome.outlook = ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log");
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
            CHECK(CountContaining(outcome.outlook, "object=\"" + item + "\"") ==
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

TEST_CASE("outlook_all_done: the Plendrax form is reset, the items converted, string 5") {
    // DLLs planted beside the uninstaller and in its current directory are never loaded: the
    // run is the full run with the system's own (here the stand-ins).
    Scenario scenario;
    scenario.planted = true;
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
    CHECK(ReadLines(SANDBOX_LOG_DIRECTORY "planted.log").empty());
    CHECK(FileExists(SANDBOX_UNINSTALLER_DIRECTORY "MAPI32.DLL"));
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
}

TEST_CASE("outlook_no_extended_mapi: items converted, no probe, string 7, document opened") {
    Scenario scenario;
    scenario.extendedMapi = false;
    Outcome outcome = RunScenario(scenario);
    INFO(DescribeRun(outcome.run));
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
    CreateFileWithText(SANDBOX_INSTALL_DIRECTORY "My notes.txt", "keep me");
    Outcome outcome = RunScenario(Scenario());
    INFO(DescribeRun(outcome.run));
    CHECK(LabelText(outcome.run, IDC_CONVERT_RESULT) == "Done");
    CHECK(LabelText(outcome.run, IDC_FILES_RESULT) == UninstallerString(IDS_FAILED));
    CHECK(outcome.run.final.text == UninstallerString(IDS_NOT_ALL_REMOVED));
    CHECK(outcome.run.final.icon == MB_ICONEXCLAMATION);
    CHECK(outcome.documents.find("UninstallPX.doc") == std::string::npos);
    CHECK(ReadWholeFile(SANDBOX_INSTALL_DIRECTORY "My notes.txt") == "keep me");
    CHECK(ItemLines(outcome) == ConvertedItems);
    CheckReferences(outcome);
}
