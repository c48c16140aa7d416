// The command line and its options, the final message and the document beside the uninstaller,
// the restore point's description and the progress window.
#include <doctest.h>

#include "app/CommandLine.h"
#include "app/CommandLineOptions.h"
#include "app/Entry.h"
#include "app/ProgressWindow.h"
#include "app/RestorePoint.h"
#include "app/UninstallRun.h"
#include "app/resources/resource.h"

#include <cstring>
#include <string>

TEST_CASE("the command-line tail starts after the program name and the blanks behind it") {
    CHECK(std::string(CommandLineTail("UninstallPX.exe")) == "");
    CHECK(std::string(CommandLineTail("UninstallPX.exe \t  ")) == "");
    CHECK(std::string(CommandLineTail("x.exe %D:\\Tools\\Plendrax\\")) == "%D:\\Tools\\Plendrax\\");
    CHECK(std::string(CommandLineTail("\"C:\\Program Files\\u.exe\"  \t%D:\\a b\\")) ==
          "%D:\\a b\\");
    // Control characters 1 to 32 are skipped like blanks.
    CHECK(std::string(CommandLineTail("x.exe \x01\x1f\x20%a")) == "%a");
    // Blanks at the end belong to the tail.
    CHECK(std::string(CommandLineTail("x.exe %D:\\a\\  ")) == "%D:\\a\\  ");
    // A second "%" and quotes are ordinary characters of the tail.
    CHECK(std::string(CommandLineTail("x.exe %%\"D:\\\"")) == "%%\"D:\\\"");
    // An unterminated quoted name takes the whole line.
    CHECK(std::string(CommandLineTail("\"C:\\a b\\u.exe %D:\\")) == "");
}

TEST_CASE("the tail is taken as the start-up code's rule gives it, not the C run-time's") {
    // Bytes of 128 and above belong to the program name.
    CHECK(std::string(CommandLineTail("cl\xE9x.exe %C:\\a\\")) == "%C:\\a\\");
    CHECK(std::string(CommandLineTail("\xE9\xFF %C:\\a\\")) == "%C:\\a\\");
    // A quoted name ends at its closing quote even when more follows without a blank.
    CHECK(std::string(CommandLineTail("\"a\"b c\" %d")) == "b c\" %d");
}

TEST_CASE("a double-byte lead byte inside a quoted name carries its trail byte") {
    const char line[] = "\"ab\x81\" c\" %d";
    // In code page 932, 0x81 is a lead byte: the quote after it is its trail byte.
    CHECK(std::string(CommandLineTail(line, 932)) == "%d");
    // In code page 1252 there are no lead bytes: the name ends at that quote.
    CHECK(std::string(CommandLineTail(line, 1252)) == "c\" %d");
    // A lead byte at the very end never skips the terminator.
    CHECK(std::string(CommandLineTail("\"ab\x81", 932)) == "");
}

TEST_CASE("a command line of 32,000 characters is handled") {
    std::string line = "x.exe %" + std::string(32000, 'a');
    CHECK(std::strlen(CommandLineTail(line.c_str())) == 32001);
}

TEST_CASE("LastSeparator finds the last slash or backslash") {
    CHECK(LastSeparator("") == nullptr);
    CHECK(LastSeparator("Plendrax.exe") == nullptr);
    const char mixed[] = "C:\\a/b\\c";
    CHECK(LastSeparator(mixed) == mixed + 6);
    const char slashLast[] = "C:\\a\\b/c";
    CHECK(LastSeparator(slashLast) == slashLast + 6);
    const char trailing[] = "D:/Plendrax/";
    CHECK(LastSeparator(trailing) == trailing + 11);
    // Every byte is tested alone: a 0x5C trail byte counts as a separator.
    const char doubleByte[] = "C:\\\x83\x5C";
    CHECK(LastSeparator(doubleByte) == doubleByte + 4);
}

TEST_CASE("ModuleDirectory gives the executable's directory with its separator") {
    char full[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
    REQUIRE(length > 0);
    char directory[MAX_PATH];
    CHECK(ModuleDirectory(directory, sizeof directory) == directory);
    size_t directoryLength = std::strlen(directory);
    REQUIRE(directoryLength > 0);
    CHECK(directory[directoryLength - 1] == '\\');
    CHECK(std::strncmp(full, directory, directoryLength) == 0);
    CHECK(std::strchr(full + directoryLength, '\\') == nullptr);

    SUBCASE("a buffer too small for the whole path gives the empty string") {
        char small[8];
        std::memset(small, 'x', sizeof small);
        ModuleDirectory(small, sizeof small);
        CHECK(small[0] == '\0');
    }
    SUBCASE("a buffer that fits exactly with its terminator is enough") {
        std::string exact(length + 1, 'x');
        ModuleDirectory(&exact[0], length + 1);
        CHECK(std::string(exact.c_str()) == directory);
    }
}

TEST_CASE("the final message follows the two outcome flags") {
    FinalMessage message = ChooseFinalMessage(false, false);
    CHECK(message.stringId == IDS_UNINSTALLED);
    CHECK(message.iconFlag == MB_ICONINFORMATION);
    message = ChooseFinalMessage(false, true);
    CHECK(message.stringId == IDS_UNINSTALLED_MANUAL);
    CHECK(message.iconFlag == MB_ICONINFORMATION);
    message = ChooseFinalMessage(true, false);
    CHECK(message.stringId == IDS_NOT_ALL_REMOVED);
    CHECK(message.iconFlag == MB_ICONEXCLAMATION);
    message = ChooseFinalMessage(true, true);
    CHECK(message.stringId == IDS_NOT_ALL_REMOVED_MANUAL);
    CHECK(message.iconFlag == MB_ICONEXCLAMATION);
}

namespace {

// Runs a copy of this program from directory, limited to the test case of that name, with
// DOCUMENT_PATH_FITS telling it what to expect; its exit code.
DWORD RunCopyFrom(const std::string& directory, const char* testCase, bool fits) {
    for (size_t at = directory.find('\\', 3); at != std::string::npos;
         at = directory.find('\\', at + 1))
        CreateDirectoryA(directory.substr(0, at).c_str(), nullptr);
    char self[MAX_PATH];
    REQUIRE(GetModuleFileNameA(nullptr, self, sizeof self) < sizeof self);
    std::string copy = directory + "t.exe";
    REQUIRE(CopyFileA(self, copy.c_str(), FALSE));
    SetEnvironmentVariableA("DOCUMENT_PATH_FITS", fits ? "1" : "0");
    std::string commandLine = "\"" + copy + "\" \"--test-case=" + testCase + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA("DOCUMENT_PATH_FITS", nullptr);
    REQUIRE(started);
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

} // namespace

TEST_CASE("the uninstall document is looked for beside the uninstaller") {
    char directory[MAX_PATH];
    ModuleDirectory(directory, sizeof directory);
    char path[MAX_PATH];
    bool formed = UninstallDocumentPath(path);
    char expected[2] = "";
    if (GetEnvironmentVariableA("DOCUMENT_PATH_FITS", expected, sizeof expected) == 1) {
        // A copy of this program, run from a directory at the limit (below).
        CHECK(formed == (expected[0] == '1'));
        if (formed)
            CHECK(std::string(path) == std::string(directory) + "UninstallPX.doc");
        return;
    }
    REQUIRE(formed);
    CHECK(std::string(path) == std::string(directory) + "UninstallPX.doc");
    // From directories of 244 and 245 characters the document's path has 259 characters, the
    // most that MAX_PATH holds, and then 260, one too many.
    for (size_t length : {244, 245}) {
        CAPTURE(length);
        std::string longDirectory =
            "C:\\" + std::string(120, 'u') + "\\" + std::string(length - 125, 'v') + "\\";
        REQUIRE(longDirectory.size() == length);
        CHECK(RunCopyFrom(longDirectory, "the uninstall document is looked for *",
                          length + 15 < MAX_PATH) == 0);
    }
}

TEST_CASE("the restore point description always fits its 64 bytes") {
    struct {
        char description[MAX_DESC];
        char guard[16];
    } record;
    std::memset(&record, 'x', sizeof record);
    FormatRestorePointDescription("Removed %s", record.description);
    CHECK(std::string(record.description) == "Removed Plendrax");

    // The longest format the table may hold (79 characters) expands past the 64 bytes: the
    // description is cut, never written past its field.
    std::string longFormat = "%s" + std::string(77, '.');
    std::memset(&record, 'x', sizeof record);
    FormatRestorePointDescription(longFormat.c_str(), record.description);
    CHECK(std::strlen(record.description) == MAX_DESC - 1);
    CHECK(std::string(record.description, 10) == "Plendrax..");
    CHECK(std::string(record.guard, sizeof record.guard) == std::string(16, 'x'));
}

TEST_CASE("a progress window that cannot be made is reported, not waited for") {
    // A module without the dialog template: DialogBoxParamA fails and returns.
    InstanceHandle = GetModuleHandleA("kernel32.dll");
    ProgressWindowFailed = false;
    CHECK(ProgressWindowThread(nullptr) == 0);
    CHECK(ProgressWindowFailed.load());
    CHECK(ProgressWindowHandle.load() == nullptr);
}

TEST_CASE("the label operations change the progress window's controls") {
    InstanceHandle = GetModuleHandleA(nullptr);
    ProgressWindowFailed = false;
    DWORD threadId;
    HANDLE thread = CreateThread(nullptr, 50000, ProgressWindowThread, nullptr, 0, &threadId);
    REQUIRE(thread != nullptr);
    CloseHandle(thread);
    for (int wait = 0; wait < 500 && ProgressWindowHandle.load() == nullptr; ++wait)
        Sleep(10);
    HWND window = ProgressWindowHandle.load();
    REQUIRE(window != nullptr);
    CHECK_FALSE(ProgressWindowFailed.load());

    auto visible = [&](int id) {
        return (GetWindowLongA(GetDlgItem(window, id), GWL_STYLE) & WS_VISIBLE) != 0;
    };
    auto text = [&](int id) {
        char buffer[64] = "";
        GetWindowTextA(GetDlgItem(window, id), buffer, sizeof buffer);
        return std::string(buffer);
    };
    CHECK_FALSE(visible(IDC_CONVERT_RESULT));
    ShowLabel(IDC_CONVERT_RESULT);
    CHECK(visible(IDC_CONVERT_RESULT));
    CHECK(text(IDC_CONVERT_RESULT) == "Done");

    CHECK_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_FILES_STAGE)));
    EnableLabel(IDC_FILES_STAGE);
    CHECK(IsWindowEnabled(GetDlgItem(window, IDC_FILES_STAGE)));

    MarkLabelFailed(IDC_FILES_RESULT);
    CHECK(visible(IDC_FILES_RESULT));
    CHECK(text(IDC_FILES_RESULT) == "Failed");
    CHECK_FALSE(visible(IDC_REGISTRY_RESULT));

    // The close commands leave it open.
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
    CHECK(IsWindow(window));
}

namespace {

std::string Text(const TailText& text) {
    return std::string(text.text ? text.text : "", text.length);
}

} // namespace

TEST_CASE("tails without our options keep their meaning; nothing after \"%\" is an option") {
    CHECK(ParseCommandLineTail("").action == TailAction::LaunchCompanion);
    CommandLineOptions plain = ParseCommandLineTail("%/quiet /log=x.log %D:\\a\\ ");
    CHECK(plain.action == TailAction::Uninstall);
    CHECK_FALSE(plain.quiet);
    CHECK(plain.logPath.Empty());
    CHECK(std::string(plain.installDirectory) == "/quiet /log=x.log %D:\\a\\ ");
    CHECK(std::string(ParseCommandLineTail("%").installDirectory) == "");
    // Unknown options first, quotes, anything glued to an option: the design's "do nothing".
    for (const char* tail :
         {"/S %D:\\a\\", "/S", "x%D:\\a\\", "\"%D:\\a\\\"", "/quietly %D:\\a\\", "/quiet%D:\\a\\",
          "/logfile=x %D:\\a\\", "/S /quiet %D:\\a\\", " /quiet %D:\\a\\", "-quiet %D:\\a\\"}) {
        CAPTURE(tail);
        CHECK(ParseCommandLineTail(tail).action == TailAction::Nothing);
    }
}

TEST_CASE("well-formed option lists: any order and case, blanks and tabs, quoted paths") {
    CommandLineOptions quiet = ParseCommandLineTail("/quiet %C:\\Program Files\\Plendrax\\");
    CHECK(quiet.action == TailAction::Uninstall);
    CHECK(quiet.quiet);
    CHECK(quiet.logPath.Empty());
    CHECK(std::string(quiet.installDirectory) == "C:\\Program Files\\Plendrax\\");

    CommandLineOptions both = ParseCommandLineTail("/Log=C:\\Logs\\px.log \t /QUIET\t%D:\\a b\\ ");
    CHECK(both.action == TailAction::Uninstall);
    CHECK(both.quiet);
    CHECK(Text(both.logPath) == "C:\\Logs\\px.log");
    CHECK(std::string(both.installDirectory) == "D:\\a b\\ ");

    CommandLineOptions quoted =
        ParseCommandLineTail("/qUiEt /LOG=\"C:\\Logs\\Plendrax removal.log\" %D:\\a\\");
    CHECK(quoted.action == TailAction::Uninstall);
    CHECK(Text(quoted.logPath) == "C:\\Logs\\Plendrax removal.log");
    CHECK(std::string(quoted.installDirectory) == "D:\\a\\");
    CHECK(quoted.scope == RunScope::Both);

    CommandLineOptions machine = ParseCommandLineTail("/SCOPE=Machine /quiet %D:\\a\\");
    CHECK(machine.action == TailAction::Uninstall);
    CHECK(machine.scope == RunScope::Machine);
    CHECK(ParseCommandLineTail("/quiet\t/scope=USER %D:\\a\\").scope == RunScope::User);
    CHECK_FALSE(machine.noSchedule);
    // The elevated copy's list, in any order and case.
    CommandLineOptions copy = ParseCommandLineTail("/NoSchedule /quiet /scope=machine %D:\\a\\");
    CHECK(copy.action == TailAction::Uninstall);
    CHECK(copy.noSchedule);
    CHECK(copy.scope == RunScope::Machine);
    // Every user's part at logon: registered by a run of the machine's part; the stub and its
    // user's part, each with the logon's try.
    CHECK(ParseCommandLineTail("/ALLUSERS /quiet %D:\\a\\").allUsers);
    CHECK(ParseCommandLineTail("/quiet /allusers /scope=machine %D:\\a\\").allUsers);
    CommandLineOptions stub = ParseCommandLineTail("/quiet /scope=user /AtLogon=1 %D:\\a\\");
    CHECK(stub.action == TailAction::Uninstall);
    CHECK(stub.atLogon == 1);
    CHECK(ParseCommandLineTail("/quiet /scope=user /logontry=3 %D:\\a\\").logonTry == 3);

    // /log alone: the interactive run with a log. A "%" inside a path is the path's.
    CommandLineOptions logged = ParseCommandLineTail("/log=%TEMP%\\px.log %D:\\a\\ /quiet");
    CHECK(logged.action == TailAction::Uninstall);
    CHECK_FALSE(logged.quiet);
    CHECK(Text(logged.logPath) == "%TEMP%\\px.log");
    CHECK(std::string(logged.installDirectory) == "D:\\a\\ /quiet");

    // A path of any length is read whole; whether it fits is the log's business.
    std::string longTail = "/log=C:\\" + std::string(40000, 'l') + " /quiet %D:\\a\\";
    CommandLineOptions longPath = ParseCommandLineTail(longTail.c_str());
    CHECK(longPath.action == TailAction::Uninstall);
    CHECK(longPath.logPath.length == 40003);
}

TEST_CASE("malformed option lists: the first problem, and a log path wherever it stands") {
    struct {
        const char* tail;
        const char* problem;
        const char* word;
        const char* logPath;
        bool quiet;
    } cases[] = {
        {"/quiet /S %D:\\a\\", "unknown option", "/S", "", true},
        {"/quiet /quiet %D:\\a\\", "/quiet is given twice", "/quiet", "", true},
        {"/log=a.log /LOG=b.log %D:\\a\\", "/log is given twice", "/LOG=b.log", "a.log", false},
        {"/log= /quiet %D:\\a\\", "/log= has an empty path", "/log=", "", true},
        {"/log=\"\" %D:\\a\\", "/log= has an empty path", "/log=\"\"", "", false},
        {"/log %D:\\a\\", "/log needs a path: /log=PATH", "/log", "", false},
        {"/quiet", "no \"%\" and installation directory after the options", "", "", true},
        {"/quiet /log=x.log \t", "no \"%\" and installation directory after the options", "",
         "x.log", true},
        {"/quiet %", "no installation directory after \"%\"", "%", "", true},
        {"/log=\"C:\\a b.log %D:\\a\\", "the quoted /log path has no closing quote",
         "/log=\"C:\\a b.log %D:\\a\\", "", false},
        {"/log=\"C:\\a\"b %D:\\a\\", "text follows the closing quote of the /log path",
         "/log=\"C:\\a\"b", "", false},
        {"/log=C:\\a\"b\" %D:\\a\\", "a quote inside an unquoted /log path", "/log=C:\\a\"b\"", "",
         false},
        // The reason goes to the log named after the problem too.
        {"/quiet /bogus /log=C:\\l.log %D:\\a\\", "unknown option", "/bogus", "C:\\l.log", true},
        // An unquoted path with a blank: its second half is no option.
        {"/quiet /log=C:\\Program Files\\px.log %D:\\a\\", "unknown option", "Files\\px.log",
         "C:\\Program", true},
        // A part alone is only for unattended runs; each part is one of two, given once.
        {"/scope=user %D:\\a\\", "/scope goes only with /quiet", "", "", false},
        {"/quiet /scope=machine /scope=user %D:\\a\\", "/scope is given twice", "/scope=user", "",
         true},
        {"/quiet /scope=both %D:\\a\\", "/scope takes machine or user", "/scope=both", "", true},
        {"/quiet /scope=machines %D:\\a\\", "/scope takes machine or user", "/scope=machines", "",
         true},
        // The part is the whole value: one that only begins with a part, or only begins one, is
        // none.
        {"/quiet /scope=users %D:\\a\\", "/scope takes machine or user", "/scope=users", "", true},
        {"/quiet /scope=Machine%D:\\a\\", "/scope takes machine or user", "/scope=Machine%D:\\a\\",
         "", true},
        {"/scope=use /quiet %D:\\a\\", "/scope takes machine or user", "/scope=use", "", true},
        {"/quiet /scope= %D:\\a\\", "/scope takes machine or user", "/scope=", "", true},
        {"/quiet /scope %D:\\a\\", "/scope needs a part: /scope=machine or /scope=user", "/scope",
         "", true},
        {"/noschedule %D:\\a\\", "/noschedule goes only with /quiet", "", "", false},
        {"/quiet /noschedule /NOSCHEDULE %D:\\a\\", "/noschedule is given twice", "/NOSCHEDULE", "",
         true},
        {"/quiet /noscheduled %D:\\a\\", "unknown option", "/noscheduled", "", true},
        {"/quiet /allusers /ALLUSERS %D:\\a\\", "/allusers is given twice", "/ALLUSERS", "", true},
        {"/quiet /atlogon=10 /scope=user %D:\\a\\",
         "a logon's try is one digit from 1 to 9: "
         "/atlogon=N, /logontry=N",
         "/atlogon=10", "", true},
        {"/quiet /scope=user /logontry=0 %D:\\a\\",
         "a logon's try is one digit from 1 to 9: "
         "/atlogon=N, /logontry=N",
         "/logontry=0", "", true},
        {"/quiet /scope=user /atlogon %D:\\a\\",
         "a logon's try is one digit from 1 to 9: "
         "/atlogon=N, /logontry=N",
         "/atlogon", "", true},
    };
    for (const auto& c : cases) {
        CAPTURE(c.tail);
        CommandLineOptions options = ParseCommandLineTail(c.tail);
        CHECK(options.action == TailAction::Malformed);
        REQUIRE(options.problem != nullptr);
        CHECK(std::string(options.problem) == c.problem);
        CHECK(Text(options.problemWord) == c.word);
        CHECK(Text(options.logPath) == c.logPath);
        CHECK(options.quiet == c.quiet);
    }
    // Registering for all users goes with the machine's part, unattended; the logon's options
    // alone with the user's.
    for (const char* tail : {"/allusers %D:\\a\\", "/quiet /scope=user /allusers %D:\\a\\",
                             "/quiet /atlogon=1 %D:\\a\\", "/scope=user /logontry=1 %D:\\a\\",
                             "/quiet /scope=user /atlogon=1 /logontry=1 %D:\\a\\",
                             "/quiet /scope=user /allusers /atlogon=1 %D:\\a\\",
                             "/quiet /scope=machine /atlogon=1 %D:\\a\\"}) {
        CAPTURE(tail);
        CHECK(ParseCommandLineTail(tail).action == TailAction::Malformed);
    }
}
