// The uninstall run end to end: the real UninstallPX.exe in a sandbox prefix with a staged
// installation, driven as a person would. Each scenario is a test of its own in a fresh
// prefix; Outlook is not installed here, so the conversion stage fails and manual steps remain.
#include <doctest.h>

#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"
#include "tests/e2e/UninstallerRun.h"
#include "tests/support/SandboxState.h"

#include <shlobj.h>

#include <string>
#include <vector>

namespace {

const std::string installDirectory = sandbox::InstallDirectory();

const std::string text3 =
    "Not all of Plendrax's components were successfully removed. This could be because you do "
    "not have sufficient rights to remove files, or because some of Plendrax's components were "
    "moved after installation.";
const std::string text8 = text3 +
                          "\n\nOptionally, you may now wish to remove the Plendrax form from "
                          "Outlook. Please consult the document UninstallPX.doc, which should "
                          "now be open.";

void CheckInstallationIntact() {
    for (const char* file : ProductFiles)
        CHECK(FileExists(installDirectory + file));
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    CHECK(ValueExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY, "TaskOrder"));
    CHECK(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
}

// Exactly the product's traces are gone; everything around them is still there.
void CheckRegistryAndShortcutsRemoved() {
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Corvenhalde\\Plendrax"));
    CHECK(ValueExists(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY, "Licensee"));
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    CHECK_FALSE(FileExists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    CHECK(FileExists(ShortcutIn(CSIDL_PROGRAMS)));
    CHECK(FileExists(sandbox::Uninstaller()));
    CHECK(FileExists(sandbox::UninstallerDirectory() + "UninstallPX.doc"));
    CHECK(FileExists("C:\\Program Files\\Common Files"));
}

const LabelState* Label(const std::vector<LabelState>& labels, int id) {
    for (const LabelState& label : labels) {
        if (label.id == id)
            return &label;
    }
    return nullptr;
}

void CheckInitialLabels(const RunResult& run) {
    REQUIRE(run.progressSeen);
    CHECK(run.progressCaption == "Plendrax Uninstall Progress");
    const struct {
        int id;
        const char* text;
        bool visible, enabled;
    } expected[] = {{1000, "Converting all Plendrax tasks to standard tasks...", true, true},
                    {1001, "Removing program files...", true, false},
                    {1002, "Removing registry entries...", true, false},
                    {1003, "Removing Start menu link...", true, false},
                    {1004, "Done", false, true},
                    {1005, "Done", false, true},
                    {1006, "Done", false, true},
                    {1007, "Done", false, true}};
    for (const auto& want : expected) {
        CAPTURE(want.id);
        const LabelState* label = Label(run.initialLabels, want.id);
        REQUIRE(label != nullptr);
        // A result may already have been set when the window is first seen.
        if (want.id >= 1004 && label->visible)
            continue;
        CHECK(label->text == want.text);
        CHECK(label->visible == want.visible);
        if (want.id <= 1001)
            CHECK(label->enabled == want.enabled);
    }
}

// The labels change in the run's order, the stages about a second apart.
void CheckLabelOrder(const RunResult& run) {
    CheckStepsInTurn(run, 5000);
}

void CheckFinalLabels(const RunResult& run, const char* converted, const char* files,
                      const char* registry, const char* shortcuts) {
    const char* results[] = {converted, files, registry, shortcuts};
    for (int stage = 0; stage < 4; ++stage) {
        CAPTURE(stage);
        const LabelState* label = Label(run.finalLabels, 1000 + stage);
        const LabelState* result = Label(run.finalLabels, 1004 + stage);
        REQUIRE(label != nullptr);
        REQUIRE(result != nullptr);
        CHECK(label->enabled);
        CHECK(result->visible);
        CHECK(result->text == results[stage]);
    }
}

// Begin before the files went, end after the final box was dismissed, same sequence number.
void CheckRestorePointPair(const RunResult& run, long long sequence) {
    std::vector<RestoreRequest> requests = RestoreRequests();
    REQUIRE(requests.size() == 2);
    CHECK(requests[0].event == 100);
    CHECK(requests[1].event == 101);
    for (const RestoreRequest& request : requests) {
        CHECK(request.type == 0);
        CHECK(request.description == "Removed Plendrax");
        CHECK(request.terminated);
        CHECK(request.statusIn == 0);
    }
    CHECK(requests[0].sequence == 0);
    CHECK(requests[1].sequence == sequence);
    CHECK(requests[0].messageBoxes == 0);
    CHECK(requests[1].messageBoxes == 0);
    CHECK(int(requests[1].tick - run.dismissTick) >= 0);
}

void CheckDocumentOpened() {
    std::vector<RecordedStart> starts = RecordedStarts();
    REQUIRE(starts.size() == 1);
    CHECK(starts[0].module == SANDBOX_RECORDER);
    CHECK(starts[0].command ==
          "\"" SANDBOX_RECORDER "\" \"" + sandbox::UninstallerDirectory() + "UninstallPX.doc\"");
}

void CheckFinalBox(const RunResult& run, const std::string& text, int icon) {
    REQUIRE(run.final.seen);
    CHECK(run.final.caption == "Plendrax");
    CHECK(run.final.text == text);
    CHECK(run.final.icon == icon);
    CHECK(run.final.buttons == std::vector<int>{IDOK});
    CHECK(run.progressVisibleBehindFinal);
}

} // namespace

TEST_CASE("declined: answering No changes nothing") {
    RunOptions options = Uninstaller("%" + installDirectory);
    options.answerYes = false;
    RunResult run = Run(options);
    REQUIRE(run.confirmation.seen);
    CHECK(run.confirmation.caption == "Plendrax");
    CHECK(run.confirmation.text ==
          "Are you sure you want to completely remove Plendrax from your computer?");
    CHECK(run.confirmation.icon == MB_ICONQUESTION);
    CHECK(run.confirmation.buttons == std::vector<int>{IDYES, IDNO});
    CHECK_FALSE(run.progressSeen);
    CHECK_FALSE(run.final.seen);
    CheckInstallationIntact();
    CHECK(RestoreRequests().empty());
    CHECK(RecordedStarts().empty());
}

TEST_CASE("full_run: every trace of the product goes and nothing else") {
    RunResult run = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(run));
    CHECK(run.confirmation.seen);
    CheckInitialLabels(run);
    CheckLabelOrder(run);
    CheckFinalLabels(run, "Failed", "Done", "Done", "Done");
    CHECK(run.closeAttempted);
    CHECK(run.progressOpenAfterClose);
    CheckFinalBox(run, text8, MB_ICONEXCLAMATION);

    for (const char* file : ProductFiles)
        CHECK_FALSE(FileExists(installDirectory + file));
    CHECK_FALSE(FileExists(sandbox::InstallDirectory()));
    CHECK_FALSE(FileExists(sandbox::InstallParent()));
    CheckRegistryAndShortcutsRemoved();
    CheckRestorePointPair(run, 57);
    CheckDocumentOpened();
}

TEST_CASE("user_file: a file the user added survives and fails the files stage") {
    CreateFileWithText(installDirectory + "My notes.txt", "keep me");
    RunResult run = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(run));
    CheckFinalLabels(run, "Failed", "Failed", "Done", "Done");
    CheckFinalBox(run, text8, MB_ICONEXCLAMATION);
    for (const char* file : ProductFiles)
        CHECK_FALSE(FileExists(installDirectory + file));
    CHECK(ReadWholeFile(installDirectory + "My notes.txt") == "keep me");
    CHECK(FileExists(sandbox::InstallParent()));
    CheckRegistryAndShortcutsRemoved();
    CheckRestorePointPair(run, 57);
}

TEST_CASE("second_run: with nothing left the files and shortcut stages fail") {
    // Setup.exe already gone: the stage still needs both programs deleted by this run.
    REQUIRE(DeleteFileA((installDirectory + "Setup.exe").c_str()));
    RunResult first = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(first));
    CheckFinalLabels(first, "Failed", "Failed", "Done", "Done");
    CHECK_FALSE(FileExists(sandbox::InstallDirectory()));
    CheckRegistryAndShortcutsRemoved();

    RunResult run = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(run));
    CheckFinalLabels(run, "Failed", "Failed", "Done", "Failed");
    CheckFinalBox(run, text8, MB_ICONEXCLAMATION);
    CHECK(RestoreRequests().size() == 4);
}

TEST_CASE("companion: an empty command line starts plendrax.exe /Setup from the current "
          "directory") {
    for (const char* tail : {"", " \t  "}) {
        CAPTURE(tail);
        DeleteFileA(SANDBOX_LOG_DIRECTORY "recorder.log");
        RunOptions options;
        options.commandLine = std::string("\"" + sandbox::Uninstaller() + "\"") + tail;
        options.currentDirectory = sandbox::InstallDirectory();
        RunResult run = Run(options);
        CHECK_FALSE(run.confirmation.seen);
        CHECK_FALSE(run.progressSeen);
        std::vector<RecordedStart> starts;
        // The companion runs on its own: wait, within a limit, for its record.
        for (int wait = 0; wait < 500 && starts.empty(); ++wait) {
            Sleep(20);
            starts = RecordedStarts();
        }
        REQUIRE(starts.size() == 1);
        CHECK(starts[0].module == installDirectory + "Plendrax.exe");
        CHECK(starts[0].command == "plendrax.exe /Setup");
        CHECK(starts[0].directory + "\\" == installDirectory);
    }
    CheckInstallationIntact();
}

TEST_CASE("companion_missing: with no plendrax.exe in the current directory nothing happens") {
    RunOptions options;
    options.commandLine = "\"" + sandbox::Uninstaller() + "\"";
    options.currentDirectory = sandbox::UninstallerDirectory(); // plendrax.exe is not here
    RunResult run = Run(options);
    CHECK_FALSE(run.confirmation.seen);
    Sleep(0);
    CHECK(RecordedStarts().empty());
}

TEST_CASE("other_command_line: anything but \"%\" first does nothing") {
    for (std::string tail : {std::string("/S"), "\"%" + installDirectory + "\"",
                             "x%" + installDirectory, std::string("\xE9%") + installDirectory}) {
        CAPTURE(tail);
        RunResult run = Run(Uninstaller(tail));
        CHECK_FALSE(run.confirmation.seen);
        CHECK_FALSE(run.progressSeen);
    }
    CheckInstallationIntact();
    CHECK(RecordedStarts().empty());
    CHECK(RestoreRequests().empty());
}

TEST_CASE("no_system_restore: without the restore client the run is the same") {
    char system[MAX_PATH];
    REQUIRE(GetSystemDirectoryA(system, sizeof system) > 0);
    REQUIRE(DeleteFileA((std::string(system) + "\\srclient.dll").c_str()));
    // Wine's own client stays out too: the library cannot be loaded at all.
    SetEnvironmentVariableA("WINEDLLOVERRIDES", "srclient=;mapi32=n,b;winemenubuilder.exe=d");
    RunResult run = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(run));
    CheckLabelOrder(run);
    CheckFinalLabels(run, "Failed", "Done", "Done", "Done");
    CheckFinalBox(run, text8, MB_ICONEXCLAMATION);
    CheckRegistryAndShortcutsRemoved();
    CHECK(RestoreRequests().empty());
    CheckDocumentOpened();
}

TEST_CASE("restore_sequence: the end request carries the begin request's number") {
    SetEnvironmentVariableA("SANDBOX_SR_SEQUENCE", "123456789012");
    RunResult run = Run(Uninstaller("%" + installDirectory));
    CheckRestorePointPair(run, 123456789012LL);
}

TEST_CASE("empty_directory: \"%\" alone deletes nothing in the current directory") {
    CreateDirectoryA("C:\\work", nullptr);
    for (const char* file : ProductFiles)
        CreateFileWithText(std::string("C:\\work\\") + file, "somebody else's");
    RunOptions options = Uninstaller("%");
    options.currentDirectory = "C:\\work";
    RunResult run = Run(options);
    INFO(DescribeRun(run));
    CheckFinalLabels(run, "Failed", "Failed", "Done", "Done");
    for (const char* file : ProductFiles)
        CHECK(ReadWholeFile(std::string("C:\\work\\") + file) == "somebody else's");
    CHECK(FileExists(installDirectory + "Setup.exe"));
}

TEST_CASE("long_directory: a directory too long for the paths is refused whole") {
    std::string directory = "C:\\" + std::string(241, 'p') + "\\"; // 245 characters
    REQUIRE(CreateDirectoryA(directory.c_str(), nullptr));
    CreateFileWithText(directory + "Setup.exe");
    RunResult run = Run(Uninstaller("%" + directory));
    INFO(DescribeRun(run));
    CheckFinalLabels(run, "Failed", "Failed", "Done", "Done");
    CHECK(FileExists(directory + "Setup.exe"));
    CHECK(FileExists(installDirectory + "Setup.exe"));
}

TEST_CASE("missing_document: a document that cannot be opened is passed over") {
    REQUIRE(DeleteFileA((sandbox::UninstallerDirectory() + "UninstallPX.doc").c_str()));
    RunResult run = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(run));
    CheckFinalBox(run, text8, MB_ICONEXCLAMATION);
    CHECK(RecordedStarts().empty());
}

// The x86_64 build stands for the shipped 32-bit exe on 64-bit Windows: it removes the entry
// where the 32-bit installer wrote it, the 32-bit view, and a key of the same name in the
// 64-bit view is another program's.
TEST_CASE("registry_view: the entry goes from the 32-bit view, its 64-bit namesake stays") {
    SetStringValue(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "DisplayName", "Plendrax (x64)",
                   View::Wow64_64);
    REQUIRE(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString"));
    REQUIRE_FALSE(
        ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString", View::Wow64_64));
    RunResult run = Run(Uninstaller("%" + installDirectory));
    INFO(DescribeRun(run));
    CheckFinalLabels(run, "Failed", "Done", "Done", "Done");
    CheckRegistryAndShortcutsRemoved();
    CHECK(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "DisplayName", View::Wow64_64));
}
