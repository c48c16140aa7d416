#pragma once
// The machine's part of an interactive run that is not elevated: done by a copy of the
// uninstaller started elevated behind Windows' one consent prompt, while the user's part stays
// with the user, at the user's level.
#include <windows.h>

class SingleRunLock;

// What the run hands over for the machine's part.
struct MachinePartHandOff {
    char program[MAX_PATH] = "";          // the copy to start: this very executable
    SingleRunLock* machineLock = nullptr; // let go of just before the copy starts, which takes it
    char childLog[MAX_PATH] = "";         // the copy's /log; empty: the copy's own default
};

// The child's log beside the parent's: "-machine" before the parent's extension
// ("C:\Logs\px.log" gives "C:\Logs\px-machine.log"). False when it would not fit.
bool ChildLogPath(const char* parentLog, char (&childLog)[MAX_PATH]);

// What anybody may read of the machine's part, without rights.
struct MachineTraces {
    bool plendraxExe = false, setupExe = false, installDirectory = false, startMenuShortcut = false;
};
MachineTraces LookAtMachineTraces(const char* installDirectory);

// The stage results of the machine's part from what was there before the copy ran and what is
// there after: the program-files stage when both programs were there and are gone with the
// directory, the shortcut stage when the Start menu shortcut was there and is gone. A copy that
// did not run (not started, refused, or finding another run at work) did nothing.
struct MachinePartResult {
    bool programFiles = false;
    bool startMenuShortcut = false;
};
MachinePartResult JudgeMachinePart(const MachineTraces& before, const MachineTraces& after,
                                   bool copyRan);

// Starts program elevated (the verb "runas") with parameters, owned by owner, and waits for it
// without a time limit, pumping this thread's messages: a person may be answering the prompt.
// True with the copy's exit code; false with the error when it was not started
// (ERROR_CANCELLED: the consent was refused).
bool RunElevated(const char* program, const char* parameters, HWND owner, DWORD& exitCodeOrError);

// All of it: looks, lets go of the machine-wide lock, runs the copy with
// "/quiet /scope=machine /noschedule /log=PATH %<installDirectory>", looks again, and logs what
// happened.
MachinePartResult RunMachinePartElevated(const char* installDirectory,
                                         const MachinePartHandOff& handOff, HWND owner);
