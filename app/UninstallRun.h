#pragma once
#include <windows.h>

#include "app/ElevatedPart.h"
#include "app/RunContext.h"

struct FinalMessage {
    UINT stringId;
    UINT iconFlag;
};

// The final message and its icon, chosen by the two outcome flags.
FinalMessage ChooseFinalMessage(bool failure, bool manualSteps);

// Forms "<uninstaller directory>UninstallPX.doc"; false when the directory is unknown or
// the path would not fit, so that no other document is ever opened.
bool UninstallDocumentPath(char (&path)[MAX_PATH]);

// Asks, then runs the four stages behind the progress window and reports the outcome. With
// handOff, the run is not elevated: the machine's part goes to an elevated copy of the
// uninstaller, and this run makes no restore point request of its own.
void UninstallRun(const char* installDirectory, const MachinePartHandOff* handOff = nullptr);

// The same four stages, or the parts of them that parts names, with no window of any kind, no
// pause and no document; each stage judged by what it left of the product. With
// atRestartWhenInUse (elevated, and not the copy of an interactive run), the machine's part
// schedules a program file in use for deletion at the next restart. Returns the exit code.
int UnattendedUninstallRun(const char* installDirectory, RunParts parts,
                           bool atRestartWhenInUse = false);

// The exit codes of an unattended run. The interactive run always exits with 0.
const int ExitManualStepsLeft = 1; // done, but the Outlook default forms are left for a person
// 3010 (ERROR_SUCCESS_REBOOT_REQUIRED) when nothing failed but a restart completes the removal.
int UnattendedExitCode(bool failure, bool manualSteps, bool restartPending = false);
