// The removal stages against the sandbox prefix's own file system and registry, where a
// Plendrax installation is staged.
#include <doctest.h>

#include "removal/Removal.h"
#include "removal/RestartDeletion.h"
#include "removal/TraceReport.h"
#include "sandbox/common/Layout.h"
#include "tests/support/SandboxState.h"

#include <shlobj.h>

#include <string>
#include <vector>

namespace {

void Touch(const std::string& path) {
    REQUIRE(CreateFileWithText(path));
}

// A fresh directory C:\t<n>\<name>\ holding the five files (or those asked for).
std::string MakeInstallation(const std::string& parent, const std::string& name,
                             std::vector<std::string> files = {}) {
    if (files.empty())
        files.assign(std::begin(ProductFiles), std::end(ProductFiles));
    CreateDirectoryA(parent.c_str(), nullptr);
    std::string directory = parent + "\\" + name;
    CreateDirectoryA(directory.c_str(), nullptr);
    for (const std::string& file : files)
        Touch(directory + "\\" + file);
    return directory;
}

} // namespace

TEST_CASE("the program files stage deletes the five files and the emptied directories") {
    std::string directory = MakeInstallation("C:\\t1", "Plendrax");
    CHECK(RemoveProgramFiles((directory + "\\").c_str()));
    for (const char* file : ProductFiles)
        CHECK_FALSE(FileExists(directory + "\\" + file));
    CHECK_FALSE(FileExists(directory));
    CHECK_FALSE(FileExists("C:\\t1"));

    SUBCASE("a second run finds nothing and reports failure") {
        CHECK_FALSE(RemoveProgramFiles((directory + "\\").c_str()));
    }
}

TEST_CASE("a file the user added keeps the directory and fails the stage") {
    std::string directory = MakeInstallation("C:\\t2", "Plendrax");
    Touch(directory + "\\notes.txt");
    Touch("C:\\t2\\other.txt");
    CHECK_FALSE(RemoveProgramFiles((directory + "\\").c_str()));
    for (const char* file : ProductFiles)
        CHECK_FALSE(FileExists(directory + "\\" + file));
    CHECK(FileExists(directory + "\\notes.txt"));
    CHECK(FileExists("C:\\t2\\other.txt"));
}

TEST_CASE("a missing program executable fails the stage though the directory goes") {
    std::string directory = MakeInstallation(
        "C:\\t3", "Plendrax", {"Plendrax.chm", "UninstallPX.doc", "pad_file.xml", "Setup.exe"});
    CHECK_FALSE(RemoveProgramFiles((directory + "\\").c_str()));
    CHECK_FALSE(FileExists(directory));
}

TEST_CASE("the directory's text is a plain prefix of each file name") {
    SUBCASE("without a trailing separator the names are glued to the last component") {
        std::string directory = MakeInstallation("C:\\t4", "Plendrax");
        Touch("C:\\t4\\PlendraxPlendrax.exe");
        Touch("C:\\t4\\PlendraxSetup.exe");
        CHECK_FALSE(RemoveProgramFiles("C:\\t4\\Plendrax"));
        CHECK_FALSE(FileExists("C:\\t4\\PlendraxPlendrax.exe"));
        CHECK_FALSE(FileExists("C:\\t4\\PlendraxSetup.exe"));
        for (const char* file : ProductFiles)
            CHECK(FileExists(directory + "\\" + file));
    }
    SUBCASE("two trailing separators: the same directory is tried twice, not the one above") {
        std::string directory = MakeInstallation("C:\\t5", "Plendrax");
        CHECK(RemoveProgramFiles((directory + "\\\\").c_str()));
        CHECK_FALSE(FileExists(directory));
        CHECK(FileExists("C:\\t5"));
    }
    SUBCASE("forward slashes behave like backslashes") {
        MakeInstallation("C:\\t6", "Plendrax");
        CHECK(RemoveProgramFiles("C:/t6/Plendrax/"));
        CHECK_FALSE(FileExists("C:\\t6"));
    }
    SUBCASE("a mixed path cuts at whichever separator stands last") {
        MakeInstallation("C:\\t7", "Plendrax");
        CHECK(RemoveProgramFiles("C:\\t7/Plendrax\\"));
        CHECK_FALSE(FileExists("C:\\t7"));
    }
    SUBCASE("a drive root removes nothing and fails") {
        CHECK_FALSE(RemoveProgramFiles("C:\\"));
        CHECK(FileExists("C:\\windows"));
    }
}

TEST_CASE("a bare drive is never removed: \"C:\" names the drive's current directory") {
    // The current directory of drive C, kept for it while the process works on another drive:
    // an empty directory that is somebody else's.
    CreateDirectoryA("C:\\t11", nullptr);
    CreateDirectoryA("C:\\t11\\cwd", nullptr);
    REQUIRE(SetEnvironmentVariableA("=C:", "C:\\t11\\cwd"));
    REQUIRE(SetCurrentDirectoryA("Z:\\"));
    SUBCASE("the drive root as installation directory") {
        CHECK_FALSE(RemoveProgramFiles("C:\\"));
    }
    SUBCASE("the directory above an installation at the top of the drive") {
        std::string directory = MakeInstallation("C:", "Plendrax11");
        CHECK(RemoveProgramFiles((directory + "\\").c_str()));
        CHECK_FALSE(FileExists(directory));
    }
    SetCurrentDirectoryA("C:\\");
    CHECK(FileExists("C:\\t11\\cwd"));
}

TEST_CASE("an empty installation directory deletes nothing in the current directory") {
    std::string directory = MakeInstallation("C:\\t8", "cwd");
    REQUIRE(SetCurrentDirectoryA(directory.c_str()));
    CHECK_FALSE(RemoveProgramFiles(""));
    for (const char* file : ProductFiles)
        CHECK(FileExists(directory + "\\" + file));
    SetCurrentDirectoryA("C:\\");
}

TEST_CASE("installation directories at and beyond the longest that fits") {
    // 244 characters with the separator: "UninstallPX.doc" still fits MAX_PATH.
    std::string parent = "C:\\t9";
    std::string name(244 - parent.size() - 2, 'p');
    std::string directory = MakeInstallation(parent, name);
    REQUIRE((directory + "\\").size() == MaxInstallDirectoryLength);
    CHECK(RemoveProgramFiles((directory + "\\").c_str()));
    CHECK_FALSE(FileExists(directory));

    // One more character and no path is tried: nothing is deleted, the stage fails.
    name += 'q';
    CreateDirectoryA(parent.c_str(), nullptr);
    std::string longer = parent + "\\" + name;
    REQUIRE(CreateDirectoryA(longer.c_str(), nullptr));
    Touch(longer + "\\Setup.exe");
    CHECK_FALSE(RemoveProgramFiles((longer + "\\").c_str()));
    CHECK(FileExists(longer + "\\Setup.exe"));
    CHECK_FALSE(RemoveProgramFiles(std::string(5000, 'x').c_str()));
}

TEST_CASE("DeleteInstalledFile never cuts a path short") {
    MakeInstallation("C:\\t10", "d", {"Setup.exe"});
    CHECK(DeleteInstalledFile("C:\\t10\\d\\", "Setup.exe"));
    CHECK_FALSE(DeleteInstalledFile("C:\\t10\\d\\", "Setup.exe"));
    // A directory whose cut-off path would name C:\t10\d\Setup.exe itself.
    Touch("C:\\t10\\d\\Setup.exe");
    std::string padded = "C:\\t10\\d\\Setup.exe" + std::string(300, ' ');
    CHECK_FALSE(DeleteInstalledFile(padded.c_str(), "x"));
    CHECK(FileExists("C:\\t10\\d\\Setup.exe"));
}

TEST_CASE("the registry stage removes the product's entries and leaves the maker's others") {
    REQUIRE(ValueExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "DisplayName"));
    REQUIRE(ValueExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY, "AlertStatus"));
    REQUIRE(KeyExists(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY));
    // A value the uninstaller does not know goes with its key.
    HKEY settings;
    REQUIRE(RegOpenKeyExA(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY, 0, KEY_WRITE, &settings) ==
            ERROR_SUCCESS);
    RegSetValueExA(settings, "Unknown", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegCloseKey(settings);

    CHECK(RemoveRegistryEntries());
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY));
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Corvenhalde\\Plendrax"));
    CHECK(KeyExists(HKEY_CURRENT_USER, "Software\\Corvenhalde"));
    CHECK(ValueExists(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY, "Licensee"));
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
}

// The cases below run after the one above, on what it left.
TEST_CASE("with nothing of the product left the registry stage still reports success") {
    REQUIRE_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY));
    CHECK(RemoveRegistryEntries());
    CHECK(KeyExists(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY));
}

TEST_CASE("once the maker's other product is gone the maker's key goes too") {
    RegDeleteKeyA(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Corvenhalde\\Ledgerwick");
    CHECK(RemoveRegistryEntries());
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Corvenhalde"));
}

TEST_CASE("the shortcut stage deletes the desktop and all-users Start menu shortcuts") {
    std::string desktop = ShortcutIn(CSIDL_DESKTOPDIRECTORY);
    std::string common = ShortcutIn(CSIDL_COMMON_PROGRAMS);
    std::string own = ShortcutIn(CSIDL_PROGRAMS);
    REQUIRE(FileExists(desktop));
    REQUIRE(FileExists(common));
    REQUIRE(FileExists(own));
    CHECK(IsNtPlatform());

    CHECK(RemoveShortcuts());
    CHECK_FALSE(FileExists(desktop));
    CHECK_FALSE(FileExists(common));
    CHECK(FileExists(own)); // the user's own Start menu is not looked at on NT
}

// The cases below run after the one above, with both shortcuts gone.
TEST_CASE("the shortcut stage's result is the Start menu deletion's alone") {
    std::string desktop = ShortcutIn(CSIDL_DESKTOPDIRECTORY);
    std::string common = ShortcutIn(CSIDL_COMMON_PROGRAMS);
    REQUIRE_FALSE(FileExists(common));
    CHECK_FALSE(RemoveShortcuts());

    Touch(common);
    CHECK(RemoveShortcuts());
    CHECK_FALSE(FileExists(common));

    Touch(desktop);
    CHECK_FALSE(RemoveShortcuts());
    CHECK_FALSE(FileExists(desktop));
}

TEST_CASE("SpecialFolderPath resolves folders and refuses unknown ones") {
    char path[MAX_PATH];
    REQUIRE(SpecialFolderPath(nullptr, path, CSIDL_COMMON_PROGRAMS));
    CHECK(std::string(path) == ShellFolderPath(CSIDL_COMMON_PROGRAMS));
    CHECK_FALSE(SpecialFolderPath(nullptr, path, 0x7E));
}

namespace {

struct Reported {
    Trace trace;
    HKEY root;
    std::string location, name;
    DWORD error;
    TraceFate fate = TraceFate::Tried;
};
std::vector<Reported> reports;

void Collect(Trace trace, HKEY root, const char* location, const char* name, DWORD error,
             TraceFate fate) {
    reports.push_back(
        {trace, root, location ? location : "<none>", name ? name : "<none>", error, fate});
}

void CheckReports(const std::vector<Reported>& expected) {
    REQUIRE(reports.size() == expected.size());
    for (size_t n = 0; n < expected.size(); ++n) {
        CAPTURE(n);
        CHECK(int(reports[n].trace) == int(expected[n].trace));
        CHECK(reports[n].root == expected[n].root);
        CHECK(reports[n].location == expected[n].location);
        CHECK(reports[n].name == expected[n].name);
        CHECK(reports[n].error == expected[n].error);
        CHECK(int(reports[n].fate) == int(expected[n].fate));
    }
    reports.clear();
}

} // namespace

// After the cases above: the product's keys and both shortcuts are gone.
TEST_CASE("every trace a stage acts on is reported with the error code of its own call") {
    RemovalTraceReporter = Collect;
    std::string directory = MakeInstallation(
        "C:\\t11", "Plendrax", {"Plendrax.chm", "UninstallPX.doc", "pad_file.xml", "Plendrax.exe"});
    Touch(directory + "\\notes.txt");
    std::string installDirectory = directory + "\\";
    CHECK_FALSE(RemoveProgramFiles(installDirectory.c_str()));
    CheckReports(
        {{Trace::File, nullptr, installDirectory, "Plendrax.chm", 0},
         {Trace::File, nullptr, installDirectory, "UninstallPX.doc", 0},
         {Trace::File, nullptr, installDirectory, "pad_file.xml", 0},
         {Trace::File, nullptr, installDirectory, "Plendrax.exe", 0},
         {Trace::File, nullptr, installDirectory, "Setup.exe", ERROR_FILE_NOT_FOUND},
         {Trace::Directory, nullptr, directory, "<none>", ERROR_DIR_NOT_EMPTY, TraceFate::NotEmpty},
         {Trace::Directory, nullptr, "C:\\t11", "<none>", ERROR_DIR_NOT_EMPTY, TraceFate::Kept}});
    // Paths that are not tried are reported as too long, whole directories as refused.
    std::string padded(300, 'x');
    CHECK_FALSE(DeleteInstalledFile(padded.c_str(), "Setup.exe"));
    CHECK_FALSE(RemoveProgramFiles(padded.c_str()));
    CheckReports({{Trace::File, nullptr, padded, "Setup.exe", ERROR_FILENAME_EXCED_RANGE},
                  {Trace::Directory, nullptr, padded, "<none>", ERROR_FILENAME_EXCED_RANGE}});

    SetStringValue(HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "DisplayName", "Plendrax");
    CHECK(RemoveRegistryEntries());
    CheckReports(
        {{Trace::RegistryValue, HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "DisplayName", 0},
         {Trace::RegistryValue, HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "UninstallString",
          ERROR_FILE_NOT_FOUND},
         {Trace::RegistryValue, HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "InstallLocation",
          ERROR_FILE_NOT_FOUND},
         {Trace::RegistryKey, HKEY_LOCAL_MACHINE, SANDBOX_UNINSTALL_KEY, "<none>", 0},
         {Trace::RegistryKey, HKEY_CURRENT_USER, SANDBOX_SETTINGS_KEY, "<none>",
          ERROR_FILE_NOT_FOUND},
         {Trace::RegistryKey, HKEY_CURRENT_USER, "Software\\Corvenhalde\\Plendrax", "<none>",
          ERROR_FILE_NOT_FOUND},
         {Trace::RegistryKey, HKEY_CURRENT_USER, "Software\\Corvenhalde", "<none>",
          ERROR_FILE_NOT_FOUND}});

    std::string desktop = ShortcutIn(CSIDL_DESKTOPDIRECTORY);
    std::string common = ShortcutIn(CSIDL_COMMON_PROGRAMS);
    Touch(desktop);
    CHECK_FALSE(RemoveShortcuts());
    CheckReports({{Trace::Shortcut, nullptr, desktop, "<none>", 0},
                  {Trace::Shortcut, nullptr, common, "<none>", ERROR_FILE_NOT_FOUND}});
    RemovalTraceReporter = nullptr;
}

namespace {

const char sessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Sets Windows' list of what to delete or rename at restart (the product only reads it).
void SetPending(const std::string& list) {
    HKEY key;
    REQUIRE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, &key) == 0);
    REQUIRE(RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(list.data()), DWORD(list.size())) == 0);
    RegCloseKey(key);
}

HANDLE Hold(const std::string& path) {
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    return holder;
}

} // namespace

TEST_CASE("files in use: scheduled at restart after what is pending, in order, each once") {
    RemovalTraceReporter = Collect;
    // Another program's rename, and a rename of a Plendrax file, which is no deletion of it.
    const std::string others("\\??\\C:\\other\\a.tmp\0\\??\\C:\\other\\a.dll\0"
                             "\\??\\C:\\T12\\PLENDRAX\\setup.exe\0!\\??\\C:\\x\0\0",
                             79);
    SetPending(others);
    std::string directory = MakeInstallation("C:\\t12", "Plendrax");
    std::string installDirectory = directory + "\\";
    HANDLE setup = Hold(directory + "\\Setup.exe");
    long left = TracesLeft, scheduled = TracesScheduled;
    CHECK_FALSE(RemoveProgramFiles(installDirectory.c_str(), true));
    CHECK(TracesLeft == left);
    CHECK(TracesScheduled == scheduled + 3);
    std::vector<std::string> pending = {"\\??\\C:\\other\\a.tmp -> \\??\\C:\\other\\a.dll",
                                        "\\??\\C:\\T12\\PLENDRAX\\setup.exe -> !\\??\\C:\\x",
                                        "\\??\\" + directory + "\\Setup.exe", "\\??\\" + directory,
                                        "\\??\\C:\\t12"};
    CHECK(PendingAtRestart() == pending);
    reports.erase(reports.begin(), reports.begin() + 4); // the four files deleted
    CheckReports({{Trace::File, nullptr, installDirectory, "Setup.exe", ERROR_SHARING_VIOLATION,
                   TraceFate::Scheduled},
                  {Trace::Directory, nullptr, directory, "<none>", ERROR_DIR_NOT_EMPTY,
                   TraceFate::Scheduled},
                  {Trace::Directory, nullptr, "C:\\t12", "<none>", ERROR_DIR_NOT_EMPTY,
                   TraceFate::Scheduled}});

    // A second file in use after the directories were scheduled (a run before the restart):
    // Windows deletes in order, so the directories are scheduled once more after it; the first
    // file, found in the list, is not.
    Touch(directory + "\\Plendrax.chm");
    HANDLE help = Hold(directory + "\\Plendrax.chm");
    CHECK_FALSE(RemoveProgramFiles(installDirectory.c_str(), true));
    for (const std::string& path :
         {directory + "\\Plendrax.chm", directory, std::string("C:\\t12")})
        pending.push_back("\\??\\" + path);
    CHECK(PendingAtRestart() == pending);
    CloseHandle(help);

    // A file that is not the product's keeps the directory: the file in use is scheduled, the
    // directories are not, and the run has left something.
    Touch(directory + "\\notes.txt");
    SetPending(std::string("\0", 1));
    left = TracesLeft;
    reports.clear();
    CHECK_FALSE(RemoveProgramFiles(installDirectory.c_str(), true));
    CHECK(PendingAtRestart() == std::vector<std::string>{"\\??\\" + directory + "\\Setup.exe"});
    CHECK(TracesLeft == left + 1);
    CHECK(int(reports[5].fate) == int(TraceFate::NotEmpty));
    CHECK(int(reports[6].fate) == int(TraceFate::Kept));
    CloseHandle(setup);

    // Not in use: a read-only file is denied as a running image is, but is left as it is.
    std::string readOnly = MakeInstallation("C:\\t13", "Plendrax") + "\\Setup.exe";
    REQUIRE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    SetPending(std::string("\0", 1));
    reports.clear();
    CHECK_FALSE(RemoveProgramFiles("C:\\t13\\Plendrax\\", true));
    CHECK(FileExists(readOnly));
    CHECK(PendingAtRestart().empty());
    CHECK(reports[4].error == ERROR_ACCESS_DENIED);
    CHECK(int(reports[4].fate) == int(TraceFate::Tried));
    char self[MAX_PATH];
    REQUIRE(GetModuleFileNameA(nullptr, self, sizeof self) > 0);
    CHECK(IsRunningImage(self));
    CHECK_FALSE(IsRunningImage(readOnly.c_str()));
    RemovalTraceReporter = nullptr;
}
