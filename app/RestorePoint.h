#pragma once
#include <windows.h>
#include <srrestoreptapi.h>

// The three removal stages, the document and the final message lie inside one
// System Restore change: begun before the files go, ended as the run's last act.
void BeginRestorePoint();
void EndRestorePoint();

INT64 RequestRestorePoint(DWORD eventType, DWORD restorePointType, INT64 sequenceNumber);
bool SetRestorePoint(PRESTOREPOINTINFOA request, PSTATEMGRSTATUS status);

// Formats the description (string 6, "Removed %s") with "Plendrax"; whatever the format,
// the result is cut to fit MAX_DESC with its terminator.
void FormatRestorePointDescription(const char* format, char (&description)[MAX_DESC]);
