#pragma once
// Who runs the uninstaller and where: the account, its elevation and its session, and from them
// the parts of the removal that the run may do.
#include <windows.h>

#include "app/CommandLineOptions.h"

struct RunContext {
    bool localSystem = false; // the local system account, as deployment tools run by default
    bool elevated = false;    // an administrator's full token, or the system account
    DWORD sessionId = 0;
    char account[256] = ""; // DOMAIN\name, empty when it cannot be looked up
    char userSid[192] = ""; // S-1-5-..., empty when the token cannot be read
};

// Reads the process's token; the account's name is left to LookUpAccountName.
RunContext CurrentRunContext();
// Fills in the account's name: asking a domain controller may take a while, so only a run that
// logs asks.
void LookUpAccountName(RunContext& context);

// The system account, or session 0 where services live: no Outlook here belongs to a person.
bool IsServiceContext(const RunContext& context);

struct RunParts {
    bool machine = true;
    bool user = true;
};

// The parts a run does: those its scope asks for, but never the user's in a service context.
// Both parts asked for there give the machine's alone; the user's part alone gives none.
RunParts PartsToRun(RunScope scope, const RunContext& context);

// The exit code of an unattended run left with no part to do (the user's part alone, asked for
// in a service context): 87, since no retry there can do it and 0 would say it was done.
// ERROR_SUCCESS while a part is left, whose stages then give the code.
int ExitCodeWithoutParts(RunParts parts);
