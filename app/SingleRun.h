#pragma once
#include <windows.h>

// One run of the uninstaller at a time, machine-wide: a named mutex owned by the run for its
// whole duration. Ownership dies with the process, so a run that crashed never blocks the next.
class SingleRunLock {
  public:
    SingleRunLock();
    SingleRunLock(const SingleRunLock&) = delete;
    SingleRunLock& operator=(const SingleRunLock&) = delete;
    ~SingleRunLock();
    // False when another run owns the mutex (or it cannot be had at all).
    bool Owned() const { return owned; }

  private:
    HANDLE mutex = nullptr;
    bool owned = false;
};

extern const char SingleRunMutexName[];
