#include "app/SingleRun.h"

// Global: the installation is the machine's, so a second user's run is another run too.
const char SingleRunMutexName[] = "Global\\Corvenhalde Plendrax Uninstall";

SingleRunLock::SingleRunLock() {
    mutex = CreateMutexA(nullptr, FALSE, SingleRunMutexName);
    // A mutex that another user's run made may refuse us access: that run is still going.
    if (mutex == nullptr)
        return;
    DWORD waited = WaitForSingleObject(mutex, 0);
    // Abandoned: the run that owned it ended without letting go; it is ours now.
    owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

SingleRunLock::~SingleRunLock() {
    if (owned)
        ReleaseMutex(mutex);
    if (mutex != nullptr)
        CloseHandle(mutex);
}
