#include "app/Entry.h"

#include "app/CommandLine.h"
#include "app/UninstallRun.h"

HINSTANCE InstanceHandle = nullptr;

void DispatchCommandLine(const char* tail) {
    if (tail[0] == '\0')
        LaunchCompanion("plendrax.exe", "/Setup");
    else if (tail[0] == '%')
        UninstallRun(tail + 1);
}
