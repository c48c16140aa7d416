#include "app/RestorePoint.h"

#include "app/Entry.h"
#include "app/RemovalLog.h"
#include "app/resources/resource.h"
#include "platform/SystemRestore.h"

#include <shlwapi.h>

namespace {
INT64 keptSequenceNumber = -1;
}

void FormatRestorePointDescription(const char* format, char (&description)[MAX_DESC]) {
    char formatted[100];
    // Bounded formatting: a longer table entry is cut, never written past the buffer.
    wnsprintfA(formatted, sizeof formatted, format, "Plendrax");
    lstrcpynA(description, formatted, MAX_DESC);
}

bool SetRestorePoint(PRESTOREPOINTINFOA request, PSTATEMGRSTATUS status) {
    HMODULE library = LoadLibraryA("SrClient.DLL");
    if (library == nullptr) {
        LogFailure("Loading the System Restore client SrClient.DLL", GetLastError());
        return false;
    }
    bool result = false;
    auto setRestorePoint = reinterpret_cast<SRSetRestorePointA_t>(
        reinterpret_cast<void*>(GetProcAddress(library, "SRSetRestorePointA")));
    if (setRestorePoint != nullptr)
        result = setRestorePoint(request, status) != FALSE;
    else
        LogLine("The System Restore client has no SRSetRestorePointA");
    FreeLibrary(library);
    return result;
}

INT64 RequestRestorePoint(DWORD eventType, DWORD restorePointType, INT64 sequenceNumber) {
    RESTOREPOINTINFOA request;
    ZeroMemory(&request, sizeof request);
    request.dwEventType = eventType;
    request.dwRestorePtType = restorePointType;
    request.llSequenceNumber = sequenceNumber;
    char format[80];
    if (LoadStringA(InstanceHandle, IDS_RESTORE_POINT_NAME, format, sizeof format) == 0)
        format[0] = '\0';
    FormatRestorePointDescription(format, request.szDescription);

    STATEMGRSTATUS status;
    ZeroMemory(&status, sizeof status);
    status.llSequenceNumber = 0;
    bool made = SetRestorePoint(&request, &status);
    if (RemovalLogOpen()) {
        // The number the begin request was given, the one the end request carried.
        char sequence[24];
        _i64toa(eventType == BEGIN_SYSTEM_CHANGE ? status.llSequenceNumber : sequenceNumber,
                sequence, 10);
        LogLine("Restore point %s request: %s, sequence number %s",
                eventType == BEGIN_SYSTEM_CHANGE ? "begin" : "end", made ? "succeeded" : "failed",
                sequence);
    }
    return status.llSequenceNumber;
}

void BeginRestorePoint() {
    keptSequenceNumber = RequestRestorePoint(BEGIN_SYSTEM_CHANGE, APPLICATION_INSTALL, 0);
}

void EndRestorePoint() {
    RequestRestorePoint(END_SYSTEM_CHANGE, APPLICATION_INSTALL, keptSequenceNumber);
}
