#include "outlook/BusyServer.h"

namespace {

// Set when a call has waited the whole bound; cleared by the next answered call.
bool gaveUp = false;

// The OLE message filter is a COM interface, and so the one class of the program with virtual
// operations: COM calls it through its vtable. It has no state of its own and is never freed.
class RetryingFilter : public IMessageFilter {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IMessageFilter)
            return E_NOINTERFACE;
        *out = static_cast<IMessageFilter*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // The conversion serves no calls of its own.
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    // elapsed is the time since the call was made; -1 cancels the call, which then fails with
    // RPC_E_CALL_REJECTED.
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsed, DWORD) override {
        DWORD delay = 0;
        return RetryBusyCall(elapsed, &delay) ? delay : DWORD(-1);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};

RetryingFilter filter;

} // namespace

bool IsBusyAnswer(HRESULT result) {
    return result == RPC_E_CALL_REJECTED || result == RPC_E_SERVERCALL_RETRYLATER;
}

bool RetryBusyCall(DWORD elapsedMs, DWORD* delayMs) {
    if (gaveUp || elapsedMs >= BusyWaitMs) {
        gaveUp = true;
        return false;
    }
    DWORD left = BusyWaitMs - elapsedMs;
    *delayMs = left < BusyRetryMs ? left : BusyRetryMs;
    return true;
}

void BusyServerAnswered() {
    gaveUp = false;
}

BusyServerFilter::BusyServerFilter() {
    BusyServerAnswered();
    registered = SUCCEEDED(CoRegisterMessageFilter(&filter, &previous));
}

void BusyServerFilter::Revoke() {
    if (!registered)
        return;
    registered = false;
    IMessageFilter* ours = nullptr;
    CoRegisterMessageFilter(previous, &ours);
    if (ours != nullptr)
        ours->Release();
    if (previous != nullptr) {
        previous->Release();
        previous = nullptr;
    }
}

IMessageFilter* BusyServerFilter::Filter() {
    return &filter;
}
