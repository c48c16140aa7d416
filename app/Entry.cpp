#include "app/Entry.h"

#include "app/CommandLine.h"
#include "app/CommandLineOptions.h"
#include "app/RemovalLog.h"
#include "app/SingleRun.h"
#include "app/UninstallRun.h"

#include <cstring>

HINSTANCE InstanceHandle = nullptr;

namespace {

// Nobody may be asked anything: no system box for a drive without a disk, a missing DLL or a
// crash, each of which would hold a deployment for ever.
void SuppressSystemBoxes() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

// /log when given; without it an unattended run logs to its default place, an interactive one
// not at all. A log that cannot be opened is simply not written.
void OpenRunLog(const CommandLineOptions& options) {
    if (!options.logPath.Empty())
        OpenRemovalLog(options.logPath);
    else if (options.quiet)
        OpenDefaultRemovalLog();
    if (RemovalLogOpen())
        RemovalTraceReporter = LogTrace;
}

void CloseRunLog(int exitCode) {
    LogExitCode(exitCode);
    RemovalTraceReporter = nullptr;
    CloseRemovalLog();
}

int RefuseMalformed(const CommandLineOptions& options) {
    SuppressSystemBoxes();
    OpenRunLog(options);
    LogRunHeader("malformed command line");
    LogLine("Malformed option list, nothing was touched: %s", options.problem);
    if (!options.problemWord.Empty())
        LogText("The word concerned: ", options.problemWord.text, options.problemWord.length);
    CloseRunLog(ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
}

int Uninstall(const CommandLineOptions& options) {
    if (options.quiet)
        SuppressSystemBoxes();
    OpenRunLog(options);
    LogRunHeader(options.quiet ? "unattended removal" : "removal");
    LogText("Installation directory: ", options.installDirectory,
            std::strlen(options.installDirectory));
    int exitCode = ERROR_SUCCESS;
    {
        // Held from before the confirmation to the end of the run.
        SingleRunLock lock;
        if (lock.Owned()) {
            if (options.quiet)
                exitCode = UnattendedUninstallRun(options.installDirectory);
            else
                UninstallRun(options.installDirectory);
        } else if (options.quiet) {
            LogLine("Another run of the uninstaller is in progress: nothing was touched");
            exitCode = ERROR_INSTALL_ALREADY_RUNNING;
        } else {
            LogLine("Another run of the uninstaller is in progress; this one goes on as asked");
            UninstallRun(options.installDirectory);
        }
    }
    CloseRunLog(exitCode);
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
        return Uninstall(options);
    case TailAction::Malformed:
        return RefuseMalformed(options);
    case TailAction::Nothing:
        break;
    }
    return ERROR_SUCCESS;
}
