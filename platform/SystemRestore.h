#pragma once
// The System Restore client's entry point, looked up at run time in "SrClient.DLL".
#include <windows.h>
#include <srrestoreptapi.h>

typedef BOOL(WINAPI* SRSetRestorePointA_t)(PRESTOREPOINTINFOA, PSTATEMGRSTATUS);
