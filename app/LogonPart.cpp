#include "app/LogonPart.h"

#include "app/CommandLine.h"
#include "app/RemovalLog.h"
#include "removal/Removal.h"

#include <shlobj.h>

#include <cstring>

#define COMPONENT_NAME "Corvenhalde Plendrax Removal"
const char LogonComponentKey[] =
    "SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\" COMPONENT_NAME;

namespace {

const char componentName[] = COMPONENT_NAME;
const char description[] = "Plendrax removal: this user's Outlook task items and task folders' "
                           "default forms, settings and desktop shortcut";
const char runOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// Under the Program Files folder, whose rights let users read and run but not write: every user
// runs this copy, and the deployment's own copy is gone with its cache.
const char keptDirectoryName[] = "\\Plendrax Removal";
const char keptFileName[] = "\\UninstallPX.exe";

// The registry key and value helpers say nothing themselves; their callers log.
class RegistryKey {
  public:
    LONG Create(HKEY root, const char* path, REGSAM view) {
        return RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                               nullptr, &key, nullptr);
    }
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() {
        if (key != nullptr)
            RegCloseKey(key);
    }
    LONG SetText(const char* name, const char* text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              DWORD(std::strlen(text) + 1));
    }
    LONG SetNumber(const char* name, DWORD number) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof number);
    }
    bool ReadText(const char* name, char* text, DWORD size) {
        DWORD type = 0, length = size - 1;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &length) !=
                ERROR_SUCCESS ||
            type != REG_SZ || length == 0)
            return false;
        text[length] = '\0';
        return true;
    }

  private:
    HKEY key = nullptr;
};

// The command line that runs this program's user's part for the installation directory, with
// the option and the logon's try given.
bool UserPartCommand(const char* program, const char* option, int tryNumber,
                     const char* installDirectory, char (&command)[2 * MAX_PATH + 64]) {
    if (std::strlen(program) >= MAX_PATH || std::strlen(installDirectory) >= MAX_PATH)
        return false;
    wsprintfA(command, "\"%s\" /quiet /scope=user %s=%d %%%s", program, option, tryNumber,
              installDirectory);
    return true;
}

// Copies this program to where every user's stub runs it from. A copy there that a user's part
// is running cannot be replaced, and serves as it is.
bool KeepStubCopy(char (&kept)[MAX_PATH]) {
    char directory[MAX_PATH], self[MAX_PATH];
    if (!SpecialFolderPath(nullptr, directory, CSIDL_PROGRAM_FILES) ||
        !ModulePath(self, sizeof self)) {
        LogLine("The stub's copy: the Program Files folder or this program's path could not be "
                "found");
        return false;
    }
    size_t length = std::strlen(directory);
    if (length + sizeof keptDirectoryName + sizeof keptFileName > sizeof kept) {
        LogLine("The stub's copy: its path would not fit");
        return false;
    }
    std::memcpy(directory + length, keptDirectoryName, sizeof keptDirectoryName);
    wsprintfA(kept, "%s%s", directory, keptFileName);
    if (lstrcmpiA(self, kept) == 0)
        return true;
    if (!CreateDirectoryA(directory, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        LogFailure(directory, GetLastError());
        return false;
    }
    if (CopyFileA(self, kept, FALSE))
        return true;
    DWORD error = GetLastError();
    bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (inUse && GetFileAttributesA(kept) != INVALID_FILE_ATTRIBUTES) {
        LogLine("The stub's copy %s is in use, by a user's part running now: it serves as it is",
                kept);
        return true;
    }
    LogFailure(kept, error);
    return false;
}

// Active Setup's version: four numbers, commas between them; a part that is missing is 0.
void ParseVersion(const char* text, unsigned long (&parts)[4]) {
    for (unsigned long& part : parts) {
        part = 0;
        for (; *text >= '0' && *text <= '9'; ++text)
            part = part * 10 + unsigned(*text - '0');
        if (*text == ',')
            ++text;
    }
}

// A version that sorts after every earlier one: the time in UTC, four numbers each below 65536
// as Active Setup compares them; after the version there, when the clock says otherwise.
void NewVersion(const char* earlier, char (&version)[32]) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    unsigned long next[4] = {now.wYear, now.wMonth * 100u + now.wDay,
                             now.wHour * 100u + now.wMinute, now.wSecond};
    unsigned long before[4];
    ParseVersion(earlier, before);
    int n = 0;
    while (n < 3 && next[n] == before[n])
        ++n;
    if (next[n] <= before[n]) {
        std::memcpy(next, before, sizeof next);
        ++next[3];
    }
    wsprintfA(version, "%lu,%lu,%lu,%lu", next[0], next[1], next[2], next[3]);
}

} // namespace

int RegisterLogonPart(const char* installDirectory, int runExitCode, bool newRemoval,
                      bool userPartDone) {
    if (runExitCode != ERROR_SUCCESS && runExitCode != 1 &&
        runExitCode != ERROR_SUCCESS_REBOOT_REQUIRED) {
        LogLine("Each user's part at logon: not registered, since the machine's part is not done "
                "and no user's part may run while Plendrax is installed; a run that finishes the "
                "machine's part registers it");
        return runExitCode;
    }
    char kept[MAX_PATH], stub[2 * MAX_PATH + 64];
    if (!KeepStubCopy(kept) || !UserPartCommand(kept, "/atlogon", 1, installDirectory, stub)) {
        LogLine("Each user's part at logon: not registered, since the stub's copy could not be "
                "made");
        return ERROR_INSTALL_FAILURE;
    }
    // Windows' logon reads the components of the system's own view, also for this 32-bit program.
    RegistryKey component;
    LONG result = component.Create(HKEY_LOCAL_MACHINE, LogonComponentKey, KEY_WOW64_64KEY);
    char version[32] = "";
    // A repeated run keeps the version, so that users already done are not asked again; a run
    // that removed an installation makes every user's part due again.
    bool known = result == ERROR_SUCCESS && component.ReadText("Version", version, sizeof version);
    if (newRemoval || !known) {
        char earlier[32];
        lstrcpynA(earlier, version, sizeof earlier);
        NewVersion(earlier, version);
    }
    if (result == ERROR_SUCCESS)
        result = component.SetText(nullptr, description);
    if (result == ERROR_SUCCESS)
        result = component.SetText("Version", version);
    if (result == ERROR_SUCCESS)
        result = component.SetText("StubPath", stub);
    if (result == ERROR_SUCCESS)
        result = component.SetNumber("IsInstalled", 1);
    if (result != ERROR_SUCCESS) {
        char what[300];
        wsprintfA(what,
                  "Each user's part at logon: the Active Setup component HKEY_LOCAL_MACHINE\\%s "
                  "could not be written (it needs an administrator or the system account)",
                  LogonComponentKey);
        LogFailure(what, DWORD(result));
        return ERROR_INSTALL_FAILURE;
    }
    LogLine("Each user's part at logon: registered as the Active Setup component "
            "HKEY_LOCAL_MACHINE\\%s, version %s, which runs for every user at that user's next "
            "logon: %s",
            LogonComponentKey, version, stub);
    LogLine("The component and the stub's copy %s stay on the machine for the users who have not "
            "logged on yet",
            kept);
    if (userPartDone) {
        RegistryKey own;
        if (own.Create(HKEY_CURRENT_USER, LogonComponentKey, 0) == ERROR_SUCCESS &&
            own.SetText("Version", version) == ERROR_SUCCESS)
            LogLine("This user's part was done by this run: it does not run again at this user's "
                    "logon");
    }
    return runExitCode;
}

int HandOffLogonPart(const CommandLineOptions& options, HANDLE& suspendedThread) {
    suspendedThread = nullptr;
    LogLine("At logon, try %d of %d", options.atLogon, LogonTries);
    if (InstalledProgramsEntryPresent()) {
        LogLine(
            "Plendrax is installed again (its entry HKEY_LOCAL_MACHINE\\%s is back): the user's "
            "part does nothing, so that nothing of the new installation is touched",
            InstalledProgramsEntry);
        return ERROR_SUCCESS;
    }
    char self[MAX_PATH], command[2 * MAX_PATH + 64];
    if (!ModulePath(self, sizeof self) ||
        !UserPartCommand(self, "/logontry", options.atLogon, options.installDirectory, command)) {
        LogLine("The user's part could not be started: its command line would not fit");
        ScheduleNextLogonTry(options, ERROR_INSTALL_FAILURE);
        return ERROR_INSTALL_FAILURE;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // Out of any job the logon put the stub in, so that the logon's end does not end it; started
    // suspended so that its log follows this one's.
    DWORD flags = CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB;
    BOOL started = CreateProcessA(self, command, nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                                  &startup, &process);
    if (!started && GetLastError() == ERROR_ACCESS_DENIED)
        started = CreateProcessA(self, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                 nullptr, &startup, &process);
    if (!started) {
        LogFailure("The user's part could not be started", GetLastError());
        ScheduleNextLogonTry(options, ERROR_INSTALL_FAILURE);
        return ERROR_INSTALL_FAILURE;
    }
    CloseHandle(process.hProcess);
    suspendedThread = process.hThread;
    LogLine("The user's part is handed to a process of its own (process ID %lu), so that the logon "
            "goes on: %s",
            process.dwProcessId, command);
    return ERROR_SUCCESS;
}

void ScheduleNextLogonTry(const CommandLineOptions& options, int exitCode) {
    int tryNumber = options.atLogon != 0 ? options.atLogon : options.logonTry;
    if (tryNumber == 0 || exitCode == ERROR_SUCCESS || exitCode == 1)
        return;
    if (tryNumber >= LogonTries) {
        LogLine("At logon, try %d of %d: the user's part did not finish, and no logon tries it "
                "again; run it in this user's session with /quiet /scope=user",
                tryNumber, LogonTries);
        return;
    }
    char self[MAX_PATH], command[2 * MAX_PATH + 64];
    RegistryKey runOnce;
    LONG result = ERROR_BUFFER_OVERFLOW;
    if (ModulePath(self, sizeof self) &&
        UserPartCommand(self, "/atlogon", tryNumber + 1, options.installDirectory, command) &&
        (result = runOnce.Create(HKEY_CURRENT_USER, runOnceKey, 0)) == ERROR_SUCCESS)
        result = runOnce.SetText(componentName, command);
    if (result == ERROR_SUCCESS)
        LogLine("At logon, try %d of %d: the user's part did not finish; the next logon tries it "
                "again (HKEY_CURRENT_USER\\%s, value \"%s\")",
                tryNumber, LogonTries, runOnceKey, componentName);
    else
        LogFailure("The next logon's try could not be arranged", DWORD(result));
}
