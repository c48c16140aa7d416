#pragma once
// Each user's part at that user's next logon, for a shared machine removed in one deployment:
// an Active Setup component, which Windows runs once for every user in that user's session; its
// stub, which hands the part to a process of its own so that the logon goes on; and the tries
// after a part that did not finish.
#include <windows.h>

#include "app/CommandLineOptions.h"

// The component's key under HKEY_LOCAL_MACHINE (native view) and the user's copy under
// HKEY_CURRENT_USER that says the part ran for that user.
extern const char LogonComponentKey[];

// How many logons try a user's part, the first included.
const int LogonTries = 3;

// After a run of the machine's part that ended with runExitCode: registers the component, with
// its stub a copy of this program kept where only administrators may write. Nothing is
// registered unless the machine's part is done (0, 1 or 3010). newRemoval: the run found Plendrax
// installed, so every user's part is due again. userPartDone: this run did its user's part, who
// is not asked again. Returns the run's exit code: 1603 when the component could not be
// registered. Every step and its reason go to the log.
int RegisterLogonPart(const char* installDirectory, int runExitCode, bool newRemoval,
                      bool userPartDone);

// The stub (/atlogon=N): starts the user's part (/logontry=N) in a process of its own, suspended
// in suspendedThread for the caller to resume once its log is closed, or does nothing where
// Plendrax is installed again. Returns the exit code.
int HandOffLogonPart(const CommandLineOptions& options, HANDLE& suspendedThread);

// After the user's part at logon try N ended with exitCode: anything but 0 or 1 is tried again at
// the next logon, while tries are left.
void ScheduleNextLogonTry(const CommandLineOptions& options, int exitCode);
