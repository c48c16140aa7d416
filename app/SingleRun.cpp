#include "app/SingleRun.h"

#include <shlwapi.h>

// Global: the installation is the machine's, so a second user's run is another run too.
const char SingleRunMutexName[] = "Global\\Corvenhalde Plendrax Uninstall";

bool UserRunLockName(const char* userSid, char (&name)[MAX_PATH]) {
    // Global too: the user's settings and Outlook profile are the same in each of their sessions.
    int length = wnsprintfA(name, sizeof name, "%s %s", SingleRunMutexName, userSid);
    return length > 0 && size_t(length) < sizeof name - 1 && userSid[0] != '\0';
}

SingleRunLock::SingleRunLock(const char* name) {
    if (name == nullptr) {
        owned = true;
        return;
    }
    mutex = CreateMutexA(nullptr, FALSE, name);
    // A mutex that another user's run made may refuse us access: that run is still going.
    if (mutex == nullptr)
        return;
    DWORD waited = WaitForSingleObject(mutex, 0);
    // Abandoned: the run that owned it ended without letting go; it is ours now.
    owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void SingleRunLock::Release() {
    if (mutex == nullptr)
        return;
    if (owned)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    mutex = nullptr;
}

SingleRunLock::~SingleRunLock() {
    Release();
}
