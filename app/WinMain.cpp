#include "app/CommandLine.h"
#include "app/DllSearch.h"
#include "app/Entry.h"

// The C run-time's own tail differs from ours for quoted names and bytes of 128 and
// above, so the tail is taken from the process command line itself.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    InstanceHandle = instance;
    RestrictDllSearchToSystemDirectory();
    return DispatchCommandLine(CommandLineTail(GetCommandLineA()));
}
