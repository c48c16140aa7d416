// Stand-in for the System Restore client: records each request and answers a begin
// request with a sequence number (SANDBOX_SR_SEQUENCE, else 57). SANDBOX_SR_FAIL=1 fails
// every request; SANDBOX_FAIL_CALL="srclient:K" fails the K-th. SANDBOX_SR_KILL=begin (or end)
// ends the calling process at once in that request, as a power cut or a killed run would.
// SANDBOX_SR_HOLD=PATH holds a begin request until the file PATH exists (a minute at most), so
// that a picture can be taken while the run is at work.
#include "sandbox/common/Record.h"

#include <srrestoreptapi.h>

#include <cstdlib>
#include <cstring>

namespace {

struct BoxCount {
    DWORD process;
    int count;
};

// Message boxes are the dialogs with the message text control 0xFFFF.
BOOL CALLBACK CountMessageBoxes(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<BoxCount*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16];
    if (process == found->process && IsWindowVisible(window) &&
        GetClassNameA(window, className, sizeof className) && lstrcmpA(className, "#32770") == 0 &&
        GetDlgItem(window, 0xFFFF) != nullptr)
        ++found->count;
    return TRUE;
}

} // namespace

extern "C" BOOL WINAPI SRSetRestorePointA(PRESTOREPOINTINFOA request, PSTATEMGRSTATUS status) {
    // How many of the caller's message boxes are on screen: the end request must come
    // after the final box is gone.
    BoxCount dialogs = {GetCurrentProcessId(), 0};
    EnumWindows(CountMessageBoxes, reinterpret_cast<LPARAM>(&dialogs));

    char description[MAX_DESC + 1];
    lstrcpynA(description, request->szDescription, MAX_DESC + 1);
    bool terminated = false;
    for (int i = 0; i < MAX_DESC; ++i)
        terminated = terminated || request->szDescription[i] == '\0';

    AppendRecord("srclient",
                 "SRSetRestorePointA event=%lu type=%lu sequence=%lld status_in=%lld "
                 "terminated=%d message_boxes=%d tick=%lu description=%s",
                 request->dwEventType, request->dwRestorePtType, request->llSequenceNumber,
                 status->llSequenceNumber, terminated ? 1 : 0, dialogs.count, GetTickCount(),
                 description);

    if (const char* hold = getenv("SANDBOX_SR_HOLD");
        hold != nullptr && request->dwEventType == BEGIN_SYSTEM_CHANGE) {
        for (int waited = 0; waited < 1200 && GetFileAttributesA(hold) == INVALID_FILE_ATTRIBUTES;
             ++waited)
            Sleep(50);
    }
    if (const char* kill = getenv("SANDBOX_SR_KILL");
        kill != nullptr &&
        strcmp(kill, request->dwEventType == BEGIN_SYSTEM_CHANGE ? "begin" : "end") == 0)
        TerminateProcess(GetCurrentProcess(), 0xDEAD);

    static int calls = 0;
    ++calls;
    if (const char* fail = getenv("SANDBOX_SR_FAIL"); fail != nullptr && *fail == '1')
        return FALSE;
    if (const char* fail = getenv("SANDBOX_FAIL_CALL");
        fail != nullptr && strncmp(fail, "srclient:", 9) == 0 && atoi(fail + 9) == calls)
        return FALSE;
    status->nStatus = ERROR_SUCCESS;
    if (request->dwEventType == BEGIN_SYSTEM_CHANGE) {
        const char* sequence = getenv("SANDBOX_SR_SEQUENCE");
        status->llSequenceNumber = sequence ? _atoi64(sequence) : 57;
    }
    return TRUE;
}
