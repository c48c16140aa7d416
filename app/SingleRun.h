#pragma once
#include <windows.h>

// One run at a time for what a run removes: a named mutex owned by the run for its whole
// duration. Ownership dies with the process, so a run that crashed never blocks the next.
class SingleRunLock {
  public:
    // name null: no lock is asked for, and Owned() is true.
    explicit SingleRunLock(const char* name);
    SingleRunLock(const SingleRunLock&) = delete;
    SingleRunLock& operator=(const SingleRunLock&) = delete;
    ~SingleRunLock();
    // False when another run owns the mutex (or it cannot be had at all).
    bool Owned() const { return owned; }
    // Lets go before the end, for a run that hands its part to another process.
    void Release();

  private:
    HANDLE mutex = nullptr;
    bool owned = false;
};

// The machine's part: machine-wide, whoever runs it.
extern const char SingleRunMutexName[];

// The user's part: one lock a user, named by the user's SID, so that two users' runs never wait
// for each other. Gives false when the name does not fit.
bool UserRunLockName(const char* userSid, char (&name)[MAX_PATH]);
