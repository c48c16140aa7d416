// OutlookStandin.exe: the stand-in's objects served by a process of their own, as Outlook
// serves its clients. COM starts it with -Embedding; it registers the application class's
// factory, answers calls on its one apartment thread, rejects calls while a "busy" window of
// the profile lasts (its message filter), and ends once the last object and lock are gone.
#include "sandbox/outlook/Objects.h"

#include "sandbox/profile/Profile.h"

namespace {

DWORD mainThread;

void Quit() {
    PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
}

// The server side of a busy Outlook: incoming calls to its objects are rejected, which the
// client sees as RPC_E_CALL_REJECTED. Everything else (releases, activation) is taken.
class BusyFilter : public IMessageFilter {
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
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO call) override {
        if (call != nullptr && call->iid == IID_IDispatch && standin::RejectsIncomingCall())
            return SERVERCALL_REJECTED;
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override {
        return DWORD(-1); // the server makes no calls of its own
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};

BusyFilter filter;

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    mainThread = GetCurrentThreadId();
    sandbox::Record(standin::Log, "server start pid=%lu command=%s", GetCurrentProcessId(),
                    GetCommandLineA());
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    standin::SetServing(standin::Serving::LocalServer);
    standin::OnIdle(Quit);
    CoRegisterMessageFilter(&filter, nullptr);
    DWORD cookie = 0;
    HRESULT registered = CoRegisterClassObject(standin::CLSID_Application, standin::Factory(),
                                               CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(registered)) {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        CoRevokeClassObject(cookie);
    }
    CoRegisterMessageFilter(nullptr, nullptr);
    CoUninitialize();
    sandbox::FlushProfile();
    sandbox::Record(standin::Log, "server end registered=0x%08lX live=%ld",
                    static_cast<unsigned long>(registered), standin::LiveObjects());
    return 0;
}
