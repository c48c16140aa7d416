// The Outlook stand-in's objects as COM sees them: reference counting and live objects, Invoke
// with the fault table and the record of every call, the busy and closing server, and the
// application class's factory.
#include "sandbox/outlook/ObjectModel.h"

#include "sandbox/common/Record.h"
#include "sandbox/profile/Profile.h"

#include <cstdio>

namespace standin {

const char Log[] = "outlook";

namespace {

LONG liveObjects = 0;
LONG serverLocks = 0;
LONG creations = 0;
Serving serving = Serving::InProcess;
void (*idleCallback)() = nullptr;
bool disconnected = false; // in-process: a "close" entry has closed the server

void IdleCheck() {
    if (liveObjects == 0 && serverLocks == 0 && idleCallback != nullptr)
        idleCallback();
}

// The server closes during a call: in-process its objects are disconnected from then on; the
// local server writes the profile's state and ends its process, as a closed Outlook does.
void CloseServer() {
    sandbox::Record(Log, "server closes live=%ld", liveObjects);
    if (serving == Serving::InProcess) {
        disconnected = true;
        return;
    }
    sandbox::FlushProfile();
    ExitProcess(0);
}

const char* FaultKindName(sandbox::FaultKind kind) {
    return kind == sandbox::FaultKind::AnswerNull        ? "null"
           : kind == sandbox::FaultKind::AnswerWrongType ? "wrongtype"
                                                         : "unknown";
}

// What an "answer" entry makes of a result that was produced.
void Misanswer(sandbox::FaultKind how, Result kind, VARIANT* result) {
    if (result == nullptr || kind == Result::None)
        return;
    if (how == sandbox::FaultKind::AnswerUnknown && kind == Result::Object) {
        result->vt = VT_UNKNOWN; // the same object, as its IUnknown
        return;
    }
    VariantClear(result);
    if (how == sandbox::FaultKind::AnswerNull) {
        if (kind == Result::Text) {
            result->vt = VT_BSTR;
            result->bstrVal = nullptr;
        } else if (kind == Result::Object) {
            result->vt = VT_DISPATCH;
            result->pdispVal = nullptr;
        } else {
            result->vt = VT_NULL;
        }
        return;
    }
    // A value of another type: a number for a string or an object, a text for a number.
    if (kind == Result::Number) {
        ReturnString(result, "many");
    } else {
        result->vt = VT_I4;
        result->lVal = 42;
    }
}

} // namespace

std::string Narrow(BSTR text) {
    if (text == nullptr)
        return std::string();
    int wide = int(SysStringLen(text));
    int length = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, text, wide, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

BSTR Wide(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    BSTR wide = SysAllocStringLen(nullptr, UINT(length));
    if (wide != nullptr && length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide, length);
    return wide;
}

Object::Object(Kind kind, int handle, std::string name)
    : kind(kind), handle(handle), name(std::move(name)) {
    InterlockedIncrement(&liveObjects);
}

Object::~Object() {
    if (counted)
        InterlockedDecrement(&liveObjects);
}

HRESULT Object::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (disconnected)
        return RPC_E_DISCONNECTED;
    if (iid == IID_IDispatch) {
        // Out of process the client's own query never arrives (the proxy answers it):
        // only COM's marshalling asks, and that is no call of the client's.
        long result = 0;
        bool refused = serving == Serving::InProcess
                           ? sandbox::ShouldFailCall(Log, name, "IDispatch", &result)
                           : sandbox::ShouldFail(name, "IDispatch", &result);
        if (refused) {
            sandbox::Record(Log, "QueryInterface object=\"%s\" IDispatch -> 0x%08lX", name.c_str(),
                            static_cast<unsigned long>(E_NOINTERFACE));
            return E_NOINTERFACE;
        }
    } else if (iid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IDispatch*>(this);
    return S_OK;
}

void Object::Pin() {
    if (counted)
        InterlockedDecrement(&liveObjects);
    counted = false;
    pinned = true;
}

ULONG Object::AddRef() {
    if (!counted && !pinned) {
        counted = true;
        InterlockedIncrement(&liveObjects);
    }
    return ULONG(InterlockedIncrement(&references));
}

ULONG Object::Release() {
    if (references <= 0) {
        sandbox::Record(Log, "Release object=\"%s\" after its last release", name.c_str());
        return 0;
    }
    LONG left = InterlockedDecrement(&references);
    if (left == 0 && pinned)
        return 0;
    if (left == 0) {
        // Released objects are kept, not freed, so that a release too many is recorded
        // rather than crashing the caller; they no longer count as live.
        InterlockedDecrement(&liveObjects);
        counted = false;
        if (kind == Kind::Application)
            sandbox::Record(Log, "last release object=\"%s\" live=%ld", name.c_str(), liveObjects);
        // A new item let go unsaved is gone, with whatever was written to it.
        pending = false;
        if (BenchMode())
            delete this; // nothing would record a release too many
        IdleCheck();
    }
    return ULONG(left);
}

// A busy server, for a call that has not yet been counted: out of process the message filter
// has already rejected what is to be rejected; what remains is answering RETRYLATER.
HRESULT Object::Busy() {
    bool retryLater = false;
    if (!sandbox::IsBusy(Log, &retryLater))
        return S_OK;
    if (serving == Serving::LocalServer && !retryLater)
        return S_OK;
    HRESULT answer = retryLater ? RPC_E_SERVERCALL_RETRYLATER : RPC_E_CALL_REJECTED;
    sandbox::Record(Log, "busy object=\"%s\" -> 0x%08lX", name.c_str(),
                    static_cast<unsigned long>(answer));
    return answer;
}

HRESULT Object::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (disconnected)
        return RPC_E_DISCONNECTED;
    if (HRESULT busy = Busy(); busy != S_OK)
        return busy;
    std::string arguments;
    if (parameters != nullptr && parameters->rgvarg != nullptr) {
        for (UINT n = parameters->cArgs; n > 0; --n)
            arguments +=
                (arguments.empty() ? "" : ",") + DescribeArgument(parameters->rgvarg[n - 1]);
    }
    const Member* member = nullptr;
    VARIANT taken[2];
    VariantInit(&taken[0]);
    VariantInit(&taken[1]);
    HRESULT hr = iid != IID_NULL ? DISP_E_UNKNOWNINTERFACE
                                 : Check(id, flags, parameters, argumentError, &member, taken);
    HRESULT scode = S_OK;
    std::string answered;
    if (hr == S_OK) {
        if (result != nullptr)
            VariantInit(result);
        std::string faultName = member->access == Put ? "MessageClass=" : member->name;
        long failure = 0;
        sandbox::FaultKind how = sandbox::FaultKind::Fail;
        if (sandbox::ShouldFailCall(Log, name, faultName, &failure, &how)) {
            if (how == sandbox::FaultKind::Close) {
                CloseServer();
                VariantClear(&taken[0]);
                VariantClear(&taken[1]);
                return RPC_E_DISCONNECTED;
            }
            if (how == sandbox::FaultKind::Fail)
                scode = HRESULT(failure);
        }
        if (scode == S_OK && (kind == Kind::Folder || kind == Kind::PropertyAccessor) &&
            handle != 0 && !sandbox::FolderAccessible(handle))
            scode = E_ACCESSDENIED;
        if (scode == S_OK)
            scode = Perform(*member, taken, result);
        if (scode == S_OK && how != sandbox::FaultKind::Fail) {
            Misanswer(how, member->result, result);
            answered = " answered=" + std::string(FaultKindName(how));
        }
        if (scode != S_OK) {
            if (result != nullptr)
                VariantClear(result);
            hr = DISP_E_EXCEPTION;
            if (exception != nullptr) {
                ZeroMemory(exception, sizeof *exception);
                exception->scode = scode;
                exception->bstrSource = SysAllocString(L"Outlook stand-in");
                exception->bstrDescription = SysAllocString(L"The operation failed.");
            }
        }
    }
    VariantClear(&taken[0]);
    VariantClear(&taken[1]);
    char memberText[64];
    if (member != nullptr)
        snprintf(memberText, sizeof memberText, "%s", member->name);
    else
        snprintf(memberText, sizeof memberText, "DISPID%ld", long(id));
    sandbox::Record(Log,
                    "invoke object=\"%s\" member=%s flags=%u args=[%s] result=%s -> 0x%08lX "
                    "scode=0x%08lX%s",
                    name.c_str(), memberText, unsigned(flags), arguments.c_str(),
                    result != nullptr ? "yes" : "no", static_cast<unsigned long>(hr),
                    static_cast<unsigned long>(scode), answered.c_str());
    return hr;
}

namespace {

class ClassFactory : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        long failure = 0;
        if (sandbox::ShouldFailCall(Log, "outlook", "Create", &failure)) {
            sandbox::Record(Log, "create -> 0x%08lX", static_cast<unsigned long>(failure));
            IdleCheck();
            return HRESULT(failure);
        }
        Object* application = NewObject(Kind::Application, 0, "outlook");
        HRESULT result = application->QueryInterface(iid, out);
        sandbox::Record(Log, "create -> 0x%08lX live=%ld", static_cast<unsigned long>(result),
                        liveObjects);
        if (FAILED(result)) {
            delete application;
            IdleCheck();
        } else {
            InterlockedIncrement(&creations);
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&serverLocks);
        } else {
            InterlockedDecrement(&serverLocks);
            IdleCheck();
        }
        return S_OK;
    }
};

ClassFactory factory;

} // namespace

void SetServing(Serving how) {
    serving = how;
}

IClassFactory* Factory() {
    return &factory;
}

IUnknown* RunningApplication() {
    static Object* running = [] {
        Object* application = NewObject(Kind::Application, 0, "outlook");
        application->Pin();
        return application;
    }();
    return static_cast<IDispatch*>(running);
}

long LiveObjects() {
    return liveObjects;
}

long ServerLocks() {
    return serverLocks;
}

long Creations() {
    return creations;
}

void OnIdle(void (*idle)()) {
    idleCallback = idle;
}

bool RejectsIncomingCall() {
    bool retryLater = false;
    if (!sandbox::IsBusy(Log, &retryLater) || retryLater)
        return false;
    sandbox::Record(Log, "busy: incoming call rejected");
    return true;
}

} // namespace standin
