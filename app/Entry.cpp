#include "app/Entry.h"

#include "app/CommandLine.h"
#include "app/CommandLineOptions.h"
#include "app/ElevatedPart.h"
#include "app/LogonPart.h"
#include "app/RemovalLog.h"
#include "app/RunContext.h"
#include "app/SingleRun.h"
#include "app/UninstallRun.h"
#include "removal/Removal.h"

#include <cstring>

HINSTANCE InstanceHandle = nullptr;

namespace {

// Nobody may be asked anything: no system box for a drive without a disk, a missing DLL or a
// crash, each of which would hold a deployment for ever.
void SuppressSystemBoxes() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

// /log when given; without it an unattended run logs to its default place, an interactive one
// not at all. A log that cannot be opened is simply not written. A /log inside the installation
// directory would keep that directory from being removed: the default log takes its place, and
// the answer is true.
bool OpenRunLog(const CommandLineOptions& options, RunContext& context) {
    bool inside = LogPathInside(options.logPath, options.installDirectory);
    if (!options.logPath.Empty() && !inside)
        OpenRemovalLog(options.logPath);
    else if (options.quiet || inside)
        OpenDefaultRemovalLog(context.elevated);
    if (RemovalLogOpen()) {
        RemovalTraceReporter = LogTrace;
        LookUpAccountName(context);
    }
    return inside;
}

void CloseRunLog(int exitCode) {
    LogExitCode(exitCode);
    RemovalTraceReporter = nullptr;
    CloseRemovalLog();
}

// A list that could not be read right may have cut a path short ("/log=C:\Program Files\..."
// unquoted would make a file "C:\Program"): its reason goes to the default log, never to a path
// read from it.
int RefuseMalformed(const CommandLineOptions& options) {
    SuppressSystemBoxes();
    RunContext context = CurrentRunContext();
    if (OpenDefaultRemovalLog(context.elevated))
        LookUpAccountName(context);
    LogRunHeader("malformed command line", context);
    LogLine("Malformed option list, nothing was touched: %s", options.problem);
    if (!options.problemWord.Empty())
        LogText("The word concerned: ", options.problemWord.text, options.problemWord.length);
    CloseRunLog(ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
}

const char* PartsText(RunParts parts) {
    if (parts.machine && parts.user)
        return "the machine's part and the user's part";
    if (parts.machine)
        return "the machine's part (program files, the installed-programs entry, the all-users "
               "Start menu shortcut)";
    if (parts.user)
        return "the user's part (Outlook, the settings keys, the desktop shortcut)";
    return "none";
}

// The elevated copy's log goes beside this run's: /log's, or where this run, not elevated, logs
// by default. The copy's current directory is not this one, so the path is made full.
void ChildLogBesideRunLog(const CommandLineOptions& options, char (&childLog)[MAX_PATH]) {
    char runLog[MAX_PATH], full[MAX_PATH];
    const TailText& given = options.logPath;
    if (!given.Empty() && given.length < sizeof runLog &&
        !LogPathInside(given, options.installDirectory)) {
        std::memcpy(runLog, given.text, given.length);
        runLog[given.length] = '\0';
    } else if (!DefaultLogPath(false, runLog)) {
        return;
    }
    DWORD length = GetFullPathNameA(runLog, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || !ChildLogPath(full, childLog))
        childLog[0] = '\0';
}

// The locks of the parts the run does: the user's own, the machine-wide one, or both.
int RunHoldingLocks(const CommandLineOptions& options, const RunContext& context, RunParts parts) {
    char userLockName[MAX_PATH];
    bool userLockNamed = parts.user && UserRunLockName(context.userSid, userLockName);
    SingleRunLock userLock(userLockNamed ? userLockName : nullptr);
    // Without a SID to name the user's lock, the machine-wide one stands in for it.
    bool machineWide = parts.machine || (parts.user && !userLockNamed);
    SingleRunLock machineLock(machineWide ? SingleRunMutexName : nullptr);
    if (!userLock.Owned() || !machineLock.Owned()) {
        if (options.quiet) {
            LogLine("Another run of the uninstaller is in progress: nothing was touched");
            return ERROR_INSTALL_ALREADY_RUNNING;
        }
        LogLine("Another run of the uninstaller is in progress; this one goes on as asked");
    }
    if (!options.quiet) {
        if (context.elevated) {
            UninstallRun(options.installDirectory);
        } else {
            MachinePartHandOff handOff;
            ModulePath(handOff.program, sizeof handOff.program);
            handOff.machineLock = &machineLock;
            ChildLogBesideRunLog(options, handOff.childLog);
            UninstallRun(options.installDirectory, &handOff);
        }
        return ERROR_SUCCESS;
    }
    char location[MAX_PATH];
    if (parts.machine && InstalledElsewhere(options.installDirectory, location)) {
        // A mistyped directory would otherwise remove the entry and shortcuts, leave the files
        // and report success.
        LogText("Plendrax is installed in another directory, and its programs are still there: ",
                location, std::strlen(location));
        LogLine("The directory given is not the installation directory: nothing was touched");
        return ERROR_INVALID_PARAMETER;
    }
    // Scheduling a deletion at restart needs an administrator; the copy of an interactive run
    // (/noschedule) leaves a file in use for the person to be told of.
    bool atRestart = context.elevated && !options.noSchedule;
    if (parts.machine && !atRestart)
        LogLine("A program file in use is not scheduled for deletion at restart: %s",
                options.noSchedule ? "/noschedule is given" : "this run is not elevated");
    // Whether this run removes an installation, which makes every user's part due again.
    bool newRemoval = options.allUsers && InstalledProgramsEntryPresent();
    int exitCode = UnattendedUninstallRun(options.installDirectory, parts, atRestart);
    if (options.allUsers)
        exitCode = RegisterLogonPart(options.installDirectory, exitCode, newRemoval, parts.user);
    return exitCode;
}

int Uninstall(const CommandLineOptions& options) {
    if (options.quiet)
        SuppressSystemBoxes();
    RunContext context = CurrentRunContext();
    bool logMoved = OpenRunLog(options, context);
    LogRunHeader(options.quiet ? "unattended removal" : "removal", context);
    if (logMoved)
        LogText("The /log path lies inside the installation directory, whose removal it would "
                "keep from happening; this log takes its place: ",
                options.logPath.text, options.logPath.length);
    LogText("Installation directory: ", options.installDirectory,
            std::strlen(options.installDirectory));
    if (options.logonTry != 0)
        LogLine("At logon, try %d of %d", options.logonTry, LogonTries);
    // A person always removes both parts; unattended, the scope and the context decide.
    RunParts parts = options.quiet ? PartsToRun(options.scope, context) : RunParts();
    LogLine("Scope: %s", PartsText(parts));
    if (options.quiet && IsServiceContext(context) && options.scope != RunScope::Machine)
        LogLine("Run as the local system account or in session 0, where no Outlook belongs to a "
                "person: Outlook is not contacted. The user's part belongs to a run in each "
                "user's session: /quiet /scope=user");
    int exitCode = ExitCodeWithoutParts(parts);
    if (exitCode == ERROR_SUCCESS)
        exitCode = RunHoldingLocks(options, context, parts);
    else
        LogLine("Nothing was touched");
    ScheduleNextLogonTry(options, exitCode);
    CloseRunLog(exitCode);
    return exitCode;
}

// The stub Windows runs at a user's logon, and waits for: it only starts the user's part.
int RunLogonStub(const CommandLineOptions& options) {
    SuppressSystemBoxes();
    RunContext context = CurrentRunContext();
    OpenRunLog(options, context);
    LogRunHeader("the user's part at logon", context);
    HANDLE userPart = nullptr;
    int exitCode = HandOffLogonPart(options, userPart);
    CloseRunLog(exitCode);
    if (userPart != nullptr) {
        ResumeThread(userPart);
        CloseHandle(userPart);
    }
    return exitCode;
}

} // namespace

int DispatchCommandLine(const char* tail) {
    CommandLineOptions options = ParseCommandLineTail(tail);
    switch (options.action) {
    case TailAction::LaunchCompanion:
        LaunchCompanion("plendrax.exe", "/Setup");
        return ERROR_SUCCESS;
    case TailAction::Uninstall:
        return options.atLogon != 0 ? RunLogonStub(options) : Uninstall(options);
    case TailAction::Malformed:
        return RefuseMalformed(options);
    case TailAction::Nothing:
        break;
    }
    return ERROR_SUCCESS;
}
