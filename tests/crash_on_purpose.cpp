// Crashes on purpose, or with --hang never ends: the sandbox must end it at once and say so,
// instead of leaving it to a debugger that waits, and must clean up after one that hangs.
// --beside-a-thread crashes while another thread runs: Wine's exit status is then 0 (with a
// thread that waits instead, 0 or 173, as the threads happen to end).
// --early-end says what a doctest program says as it starts a test case, then returns 0
// without a summary, as a test program that calls exit() would.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
// Says it runs, then keeps running.
DWORD WINAPI Spin(void* running) {
    SetEvent(running);
    for (volatile bool on = true; on;) {
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "--hang") == 0)
        Sleep(INFINITE);
    if (std::strcmp(mode, "--early-end") == 0) {
        std::puts("[doctest] unskipped test cases passing the current filters: 2");
        std::puts("[doctest] test case started: the first of two");
        return 0;
    }
    if (std::strcmp(mode, "--beside-a-thread") == 0) {
        HANDLE running = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (running == nullptr)
            return 1;
        HANDLE thread = CreateThread(nullptr, 0, Spin, running, 0, nullptr);
        bool spins = thread != nullptr && WaitForSingleObject(running, 30000) == WAIT_OBJECT_0;
        if (thread != nullptr)
            CloseHandle(thread);
        if (!spins) // a thread that has not said it runs may still use the event
            return 1;
        CloseHandle(running); // the thread no longer needs it
    }
    std::puts("about to crash");
    std::fflush(stdout);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    std::puts("still running");
    return 0;
}
