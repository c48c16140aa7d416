#pragma once
#include <windows.h>
#include <srrestoreptapi.h>

// The three removal stages, the document and the final message lie inside one
// System Restore change: begun before the files go, ended as the run's last act.
void BeginRestorePoint();
void EndRestorePoint();

INT64 RequestRestorePoint(DWORD eventType, DWORD restorePointType, INT64 sequenceNumber);
bool SetRestorePoint(PRESTOREPOINTINFOA request, PSTATEMGRSTATUS status);

// Formats "Removed %s" with "Plendrax" into a description that always fits MAX_DESC.
void FormatRestorePointDescription(char (&description)[MAX_DESC]);
