// Bad input end to end, on the real exe: odd command-line tails, odd installation
// directories, an uninstaller directory too long for its document, and Outlook ids that are
// no hex. Nothing may crash, and nothing may go but the five named files, the two directories,
// the registry entries and the two shortcuts: sentinel files around are checked after each run.
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

std::string FilesResult(const RunResult& run) {
    for (const LabelState& label : run.finalLabels)
        if (label.id == IDC_FILES_RESULT)
            return label.text;
    return "<missing>";
}

void MakeDirectories(const std::string& path) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
}

// An installation of the five files in directory (which ends with a backslash).
void Install(const std::string& directory) {
    MakeDirectories(directory);
    for (const char* file : ProductFiles)
        CreateFileWithText(directory + file, "product");
    for (const char* file : ProductFiles)
        REQUIRE(FileExists(directory + file));
}

// Files that must outlive every run: beside and above the installations, with the product's
// names glued to a directory without its separator, in the root, the staged installation.
struct Sentinels {
    std::vector<std::string> paths;
    void Add(const std::string& path) {
        MakeDirectories(path.substr(0, path.rfind('\\')));
        CreateFileWithText(path, "sentinel");
        REQUIRE(FileExists(path));
        paths.push_back(path);
    }
    explicit Sentinels(bool stagedInstallation = true) {
        Add("C:\\keep.txt");
        Add("C:\\Apps\\keep.txt");
        Add("C:\\Apps\\PlendraxSetup.exe");
        Add("C:\\Apps\\PlendraxPlendrax.exe");
        Add("C:\\Apps\\Plendrax2\\Setup.exe");
        Add(sandbox::InstallParent() + "\\PlendraxSetup.exe");
        Add(sandbox::UninstallerDirectory() + "keep.txt");
        if (stagedInstallation)
            for (const char* file : ProductFiles)
                paths.push_back(std::string(sandbox::InstallDirectory()) + file);
        paths.push_back(sandbox::Uninstaller());
        paths.push_back("C:\\windows\\system32\\kernel32.dll");
    }
    void Check() const {
        for (const std::string& path : paths) {
            CAPTURE(path);
            CHECK(FileExists(path));
        }
    }
};

void CheckGone(const std::string& directory) {
    for (const char* file : ProductFiles)
        CHECK_FALSE(FileExists(directory + file));
}

} // namespace

TEST_CASE("tails: odd command-line tails reach the confirmation and, declined, change nothing") {
    Sentinels sentinels;
    const std::string directory = sandbox::InstallDirectory();
    std::vector<std::string> tails = {
        "\t %" + directory + " \t",        // blanks and tabs around
        "%\"" + directory + "\"",          // quotes inside
        "%%" + directory,                  // a second "%"
        "%C:\\\xE9\xFF\x80\\" + directory, // bytes of 128 and above
        "%C:\\\x83\x5C\x83\x22\\",         // double-byte characters, trail '\' and '"'
        "%" + std::string(32000, 'x'),     // 32,000 characters
        "%" + std::string(300, '\\'),      // separators only
    };
    for (const std::string& tail : tails) {
        CAPTURE(tail.substr(0, 60));
        RunOptions options = Uninstaller(tail);
        options.answerYes = false;
        RunResult run = Run(options);
        CHECK(run.confirmation.seen);
        CHECK_FALSE(run.progressSeen);
    }
    // A quoted name with "%" straight behind it, and a tab between.
    for (const char* separator : {"", "\t"}) {
        RunOptions options;
        options.applicationPath = sandbox::Uninstaller();
        options.commandLine =
            std::string("\"" + sandbox::Uninstaller() + "\"") + separator + "%" + directory;
        options.answerYes = false;
        CHECK(Run(options).confirmation.seen);
    }
    sentinels.Check();
    CHECK(RestoreRequests().empty());
}

TEST_CASE("long_directories: 244 characters are removed whole, 300 refused") {
    Sentinels sentinels;
    // 244 characters with the separator: the longest that every file path fits.
    std::string fits = "C:\\" + std::string(240, 'q') + "\\";
    REQUIRE(fits.size() == 244);
    Install(fits);
    RunResult run = Run(Uninstaller("%" + fits));
    INFO(DescribeRun(run));
    CHECK(run.final.seen);
    CHECK(FilesResult(run) == "Done");
    CheckGone(fits);
    CHECK_FALSE(FileExists(fits));

    // 300 characters: beyond MAX_PATH. Where a cut path would land, the product's names lie
    // in a real directory; none of them may go.
    std::string cut = "C:\\" + std::string(240, 'r') + "\\";
    Install(cut);
    std::string tooLong = cut + std::string(55, 's') + "\\";
    REQUIRE(tooLong.size() == 300);
    run = Run(Uninstaller("%" + tooLong));
    CHECK(run.final.seen);
    CHECK(FilesResult(run) == "Failed");
    for (const char* file : ProductFiles)
        CHECK(FileExists(cut + file));
    sentinels.Check();
}

TEST_CASE("separators: two trailing separators, forward slashes") {
    Sentinels sentinels;
    // Two separators: only the last is stripped, so the directory above is not tried.
    Install("C:\\Twice\\Plendrax\\");
    RunResult run = Run(Uninstaller("%C:\\Twice\\Plendrax\\\\"));
    INFO(DescribeRun(run));
    CHECK(run.final.seen);
    CheckGone("C:\\Twice\\Plendrax\\");
    CHECK_FALSE(FileExists("C:\\Twice\\Plendrax"));
    CHECK(FileExists("C:\\Twice"));
    CHECK(FilesResult(run) == "Done");

    // Forward slashes behave like backslashes: the empty directory above goes too.
    Install("C:\\Slash\\Plendrax\\");
    run = Run(Uninstaller("%C:/Slash/Plendrax/"));
    CHECK(run.final.seen);
    CheckGone("C:\\Slash\\Plendrax\\");
    CHECK_FALSE(FileExists("C:\\Slash"));
    CHECK(FilesResult(run) == "Done");
    sentinels.Check();
}

TEST_CASE("root_relative: a drive root, a relative directory") {
    Sentinels sentinels;
    // The root: its removal fails and there is no directory above. "C:" alone would name the
    // current directory kept for drive C while the uninstaller works on another drive: an
    // empty directory of somebody else's, which stays.
    REQUIRE(CreateDirectoryA("C:\\Kept", nullptr));
    REQUIRE(SetEnvironmentVariableA("=C:", "C:\\Kept"));
    RunOptions atRoot = Uninstaller("%C:\\");
    atRoot.currentDirectory = "Z:\\";
    RunResult run = Run(atRoot);
    INFO(DescribeRun(run));
    CHECK(run.final.seen);
    CHECK(FilesResult(run) == "Failed");
    CHECK(FileExists("C:\\windows"));
    CHECK(FileExists(sandbox::ProgramFiles()));
    CHECK(FileExists("C:\\Kept"));

    // Relative to the current directory; no separator is left for a directory above.
    Install("C:\\Apps\\Plendrax\\");
    RunOptions options = Uninstaller("%Plendrax\\");
    options.currentDirectory = "C:\\Apps";
    run = Run(options);
    CHECK(run.final.seen);
    CheckGone("C:\\Apps\\Plendrax\\");
    CHECK_FALSE(FileExists("C:\\Apps\\Plendrax"));
    CHECK(FilesResult(run) == "Done");
    sentinels.Check();
}

TEST_CASE("long_uninstaller_directory: the document that would not fit is not opened") {
    Sentinels sentinels(false);
    // The exe's own path fits MAX_PATH; the document's beside it does not.
    std::string directory = "C:\\" + std::string(120, 'u') + "\\" + std::string(124, 'v') + "\\";
    REQUIRE(directory.size() == 249);
    MakeDirectories(directory);
    std::string exe = directory + "u.exe";
    REQUIRE(CopyFileA(sandbox::Uninstaller().c_str(), exe.c_str(), FALSE));
    RunOptions options;
    options.applicationPath = exe;
    options.commandLine = "\"" + exe + "\" %" + sandbox::InstallDirectory();
    RunResult run = Run(options);
    INFO(DescribeRun(run));
    CHECK(run.final.seen);
    CHECK(RecordedStarts().empty());
    CHECK(RestoreRequests().size() == 2);
    // The staged installation was the one given: it goes, the sentinels stay.
    CheckGone(sandbox::InstallDirectory());
    sentinels.Check();
}

TEST_CASE("outlook_ids: ids of odd length or no hex reach MAPI without harm") {
    RegisterOutlookStandin();
    SetExtendedMapi(true);
    // Every folder has the Plendrax form. "Odd": its id with one digit more, dropped again on
    // decoding, so it is found and reset. The others name no folder or store.
    std::string form = " type=3 msgclass=\"IPM.Task.Plendrax\" displayname=\"Plendrax\"";
    std::string profile = "store \"S\" id=0A0B0C0D\r\n"
                          "  folder \"Odd\" id=00AA01 outlookentryid=00AA01F" +
                          form +
                          "\r\n    item \"IPM.Task.Plendrax\"\r\n"
                          "  folder \"NoHex\" id=00AA02 outlookentryid=\"zz!\\\"%s\"" +
                          form +
                          "\r\n    item \"IPM.Task.Plendrax\"\r\n"
                          "  folder \"Empty\" id=00AA03 outlookentryid=\"\" outlookstoreid=\"\"" +
                          form +
                          "\r\n"
                          "  folder \"Store\" id=00AA04 outlookstoreid=0A0B0C0" +
                          form +
                          "\r\n"
                          "  folder \"Long\" id=00AA05 outlookentryid=" +
                          std::string(5001, '7') + " outlookstoreid=" + std::string(3000, 'Z') +
                          form + "\r\n";
    CreateFileWithText(SANDBOX_DIRECTORY "profile.txt", profile);
    RunResult run = Run(Uninstaller("%" + sandbox::InstallDirectory()));
    INFO(DescribeRun(run));
    CHECK(run.final.seen);
    for (const LabelState& label : run.finalLabels)
        if (label.id == IDC_CONVERT_RESULT)
            CHECK(label.text == "Done");
    CHECK(OutlookServersGone());
    std::vector<std::string> state = ReadLines(SANDBOX_LOG_DIRECTORY "profile.out");
    int reset = 0, untouched = 0, converted = 0;
    for (const std::string& line : state) {
        reset += line.find("msgclass=\"IPM.Task\" displayname=\"Task\"") != std::string::npos;
        untouched += line.find("msgclass=\"IPM.Task.Plendrax\"") != std::string::npos;
        converted += line.find("item \"IPM.Task\" saved=1") != std::string::npos;
    }
    CHECK(reset == 1); // "Odd"; "Store" loses its odd digit and names no store
    CHECK(untouched == 4);
    CHECK(converted == 2);
    // The folders that could not be reset leave the clean-up to the user.
    CHECK(RecordedStarts().size() == 1);
    std::vector<std::string> mapi = ReadLines(SANDBOX_LOG_DIRECTORY "mapi32.log");
    for (const std::string& line : mapi)
        CHECK(line.find("leak") == std::string::npos);
}
