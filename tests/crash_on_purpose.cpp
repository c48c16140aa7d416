// Crashes on purpose, or with --hang never ends: the sandbox must end it at once and say so,
// instead of leaving it to a debugger that waits, and must clean up after one that hangs.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--hang") == 0)
        Sleep(INFINITE);
    std::puts("about to crash");
    std::fflush(stdout);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    std::puts("still running");
    return 0;
}
