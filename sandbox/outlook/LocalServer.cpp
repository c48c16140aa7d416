// OutlookStandin.exe: the stand-in's objects served by a process of their own, as Outlook
// serves its clients. COM starts it with -Embedding; a person (or a test, as one) starts it
// without. Either way it registers the application class's factory and, as a running Outlook
// does, its application object in the running object table (GetActiveObject finds it), and
// answers calls on its one apartment thread; it rejects calls while a "busy" window of the
// profile lasts (its message filter).
//   - Started by COM it ends once the last object and lock are gone. When the user's mail
//     profiles give it none to log on with (sandbox/common/MailProfiles.h), it first shows, as
//     Outlook does, its first-run account setup or its Choose Profile box, modal, and holds
//     every call (rejects it, as a busy Outlook) until the box is answered: OK goes on as if a
//     profile had been chosen (and ends at once if its client has already let go), Cancel ends
//     the process.
//   - Started by a person it has a main window, "Inbox - Outlook", and ends when that closes.
#include "sandbox/outlook/Objects.h"

#include "sandbox/common/MailProfiles.h"
#include "sandbox/profile/Profile.h"

#include <cstring>

namespace {

DWORD mainThread;
bool byPerson = false; // started without -Embedding
bool holding = false;  // a box of Outlook's own is waiting for its user

// A person's Outlook stays until its window closes, and Outlook's box waits for its user.
void Quit() {
    if (!byPerson && !holding)
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
        if (call == nullptr || call->iid != IID_IDispatch)
            return SERVERCALL_ISHANDLED;
        if (holding) {
            sandbox::Record(standin::Log, "held: incoming call rejected while a box is shown");
            return SERVERCALL_REJECTED;
        }
        return standin::RejectsIncomingCall() ? SERVERCALL_REJECTED : SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override {
        return DWORD(-1); // the server makes no calls of its own
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};

BusyFilter filter;

// Outlook's own box when it has no profile to log on with; true when its user went on.
bool ProfileBoxAnswered(sandbox::OutlookStart start) {
    const char* caption =
        start == sandbox::OutlookStart::FirstRun ? "Welcome to Outlook" : "Choose Profile";
    const char* text = start == sandbox::OutlookStart::FirstRun
                           ? "Add an email account to get started."
                           : "Profile Name: Outlook";
    sandbox::Record(standin::Log, "box shown caption=\"%s\"", caption);
    holding = true;
    int answer = MessageBoxA(nullptr, text, caption, MB_OKCANCEL | MB_SETFOREGROUND);
    holding = false;
    sandbox::Record(standin::Log, "box answered %d", answer);
    return answer == IDOK;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MainWindow(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "SandboxOutlookMain";
    RegisterClassA(&windowClass);
    return CreateWindowA("SandboxOutlookMain", "Inbox - Outlook", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                         CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance,
                         nullptr);
}

bool HasEmbedding(const char* commandLine) {
    for (const char* at = commandLine; (at = std::strchr(at, '-')) != nullptr; ++at)
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, at + 1, 9, "Embedding", 9) ==
            CSTR_EQUAL)
            return true;
    return false;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    mainThread = GetCurrentThreadId();
    byPerson = !HasEmbedding(GetCommandLineA());
    sandbox::Record(standin::Log, "server start pid=%lu command=%s", GetCurrentProcessId(),
                    GetCommandLineA());
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    standin::SetServing(standin::Serving::LocalServer);
    standin::OnIdle(Quit);
    CoRegisterMessageFilter(&filter, nullptr);
    DWORD cookie = 0, oldCookie = 0, running = 0;
    HRESULT registered = CoRegisterClassObject(standin::CLSID_Application, standin::Factory(),
                                               CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    HRESULT oldRegistered =
        CoRegisterClassObject(standin::CLSID_ApplicationOld, standin::Factory(),
                              CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &oldCookie);
    HRESULT active = RegisterActiveObject(standin::RunningApplication(), standin::CLSID_Application,
                                          ACTIVEOBJECT_WEAK, &running);
    sandbox::Record(standin::Log, "running object table -> 0x%08lX",
                    static_cast<unsigned long>(active));
    sandbox::OutlookStart start = sandbox::HowOutlookStarts();
    bool serving = SUCCEEDED(registered);
    if (serving && !byPerson && start != sandbox::OutlookStart::LogsOn)
        serving = ProfileBoxAnswered(start) &&
                  !(standin::Creations() > 0 && standin::LiveObjects() == 0 &&
                    standin::ServerLocks() == 0);
    if (serving && (!byPerson || MainWindow(instance) != nullptr)) {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (SUCCEEDED(active))
        RevokeActiveObject(running, nullptr);
    if (SUCCEEDED(oldRegistered))
        CoRevokeClassObject(oldCookie);
    if (SUCCEEDED(registered))
        CoRevokeClassObject(cookie);
    CoRegisterMessageFilter(nullptr, nullptr);
    CoUninitialize();
    sandbox::FlushProfile();
    sandbox::Record(standin::Log, "server end registered=0x%08lX live=%ld",
                    static_cast<unsigned long>(registered), standin::LiveObjects());
    return 0;
}
