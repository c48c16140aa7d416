#pragma once
// A busy Outlook: while it starts, synchronises or shows a dialog it rejects calls
// (RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER). The conversion asks again, for a bounded
// time: a rejected call is tried every BusyRetryMs until BusyWaitMs have passed since its first
// rejection. A call that gives up that way fails as any failed call does, and until some call
// is answered every further rejection fails at once, so that a server that stays busy costs
// the run one wait, not one per call.
//
// On Windows COM hands the rejections to the thread's message filter, which retries by that
// rule; Wine's COM does not, so the single Invoke path (Automation.cpp) applies the same rule
// itself. A normal run repeats no call.
#include <windows.h>

#include <ole2.h>

// Ten seconds: Outlook rejects calls for a second or two while it starts or synchronises, and
// a user watching the progress window takes a wait of a few more seconds for work, not for a
// hang; an Outlook that stays busy longer (a dialog waiting for its user) ends the stage as
// failed, and the removal stages still run.
const DWORD BusyWaitMs = 10000;
const DWORD BusyRetryMs = 100;

// Whether the call's result says the server was busy.
bool IsBusyAnswer(HRESULT result);
// For a call first rejected elapsedMs ago: whether to ask again, and after how long.
bool RetryBusyCall(DWORD elapsedMs, DWORD* delayMs);
// A call was answered: the server is not taken for busy any more.
void BusyServerAnswered();

// Registers the message filter on the calling thread, whose COM must be initialised, for as
// long as it lives or until Revoke, and gives back the filter that was there before.
class BusyServerFilter {
  public:
    BusyServerFilter();
    BusyServerFilter(const BusyServerFilter&) = delete;
    BusyServerFilter& operator=(const BusyServerFilter&) = delete;
    ~BusyServerFilter() { Revoke(); }
    void Revoke();
    // The filter itself, as COM calls it.
    static IMessageFilter* Filter();

  private:
    bool registered = false;
    IMessageFilter* previous = nullptr;
};
