// The demo's person at the screen: runs the uninstaller once and prints what it saw.
// user.exe [--no] [--keep-open] [--no-window]
// --no-window: a run that must show nothing (/quiet) is only watched, and timed from the
// process's creation to its exit.
// The uninstaller's whole command line comes from SANDBOX_COMMAND_LINE, byte for byte: Wine
// would quote it anew if it came as arguments.
#include "sandbox/user/WindowDriver.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    RunOptions options;
    bool noWindow = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no") == 0)
            options.answerYes = false;
        else if (std::strcmp(argv[i], "--keep-open") == 0)
            options.tryToClose = false;
        else if (std::strcmp(argv[i], "--no-window") == 0)
            noWindow = true;
    }
    char commandLine[32768];
    DWORD length = GetEnvironmentVariableA("SANDBOX_COMMAND_LINE", commandLine, sizeof commandLine);
    if (length == 0 || length >= sizeof commandLine) {
        std::fputs("user.exe: set SANDBOX_COMMAND_LINE to the uninstaller's command line\n",
                   stderr);
        return 2;
    }
    options.commandLine = commandLine;
    if (noWindow) {
        WindowWatch watch = RunWatchingWindows(options);
        std::printf("windows seen: %u\n", unsigned(watch.windowsSeen.size()));
        for (const std::string& window : watch.windowsSeen)
            std::printf("  %s\n", window.c_str());
        if (watch.exited)
            std::printf("exit code %lu\ntiming: start to exit %lu ms\n", watch.exitCode,
                        watch.elapsedMs);
        return watch.started && watch.exited && !watch.timedOut ? 0 : 1;
    }
    RunResult run = RunUninstaller(options);
    std::fputs(DescribeRun(run).c_str(), stdout);
    if (run.confirmation.seen && run.final.seen)
        std::printf("timing: start to confirmation %lu ms, confirmed to final message %lu ms\n",
                    run.confirmation.tick - run.startTick, run.final.tick - run.answerTick);
    return run.started && run.exited && !run.timedOut ? 0 : 1;
}
