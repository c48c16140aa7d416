// The sandbox's crash reporter, registered as the system's debugger (AeDebug) with Auto on:
// Windows starts it as "crash.exe PID EVENT" when a process meets an exception nobody handles.
// Instead of a debugger that would wait for somebody, it says which process crashed, on
// stderr and in C:\sandbox\log\crash.log, and ends that process at once with CrashExitCode.
#include "sandbox/common/Record.h"

#include <cstdio>
#include <cstdlib>

namespace {
const UINT CrashExitCode = 0xBAD;
}

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    DWORD pid = DWORD(std::strtoul(argv[1], nullptr, 10));
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    char image[MAX_PATH] = "?";
    DWORD size = sizeof image;
    if (process != nullptr && !QueryFullProcessImageNameA(process, 0, image, &size))
        lstrcpyA(image, "?");
    std::fprintf(stderr, "crash: process %lu (%s) crashed; the sandbox ended it with 0x%X\n", pid,
                 image, CrashExitCode);
    std::fflush(stderr);
    AppendRecord("crash", "process %lu (%s) crashed", pid, image);
    if (process == nullptr)
        return 1;
    TerminateProcess(process, CrashExitCode);
    CloseHandle(process);
    return 0;
}
