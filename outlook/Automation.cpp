// The automation surface's references and values, and the member calls: one IDispatch::Invoke
// each, with a busy Outlook asked again (BusyServer.h) and every failure raised.
#include "outlook/Automation.h"

#include "outlook/BusyServer.h"

#include <cstring>
#include <iterator>
#include <vector>

DispatchRef& DispatchRef::operator=(DispatchRef&& other) noexcept {
    if (this != &other) {
        Release();
        object = other.object;
        other.object = nullptr;
    }
    return *this;
}

DispatchRef DispatchRef::NewReference() const {
    if (object != nullptr)
        object->AddRef();
    return DispatchRef(object);
}

void DispatchRef::Release() noexcept {
    IDispatch* held = object;
    object = nullptr;
    if (held != nullptr)
        held->Release();
}

void Variant::Clear() {
    HRESULT result = VariantClear(&value);
    if (FAILED(result))
        RaiseComError(result);
}

void RaiseComError(HRESULT result) {
    throw _com_error(result);
}

CallTimes OutlookCallTimes;

namespace {

// The exception details of one Invoke; the strings are freed whatever happens.
struct ExceptionDetails {
    EXCEPINFO info = {};
    ExceptionDetails() = default;
    ExceptionDetails(const ExceptionDetails&) = delete;
    ExceptionDetails& operator=(const ExceptionDetails&) = delete;
    ~ExceptionDetails() { Clear(); }
    void Clear() {
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        info = EXCEPINFO();
    }
};

// The error information that Outlook supplied with an exception, or null.
IErrorInfo* ErrorInfoFrom(const EXCEPINFO& info) {
    ICreateErrorInfo* creator = nullptr;
    if (FAILED(CreateErrorInfo(&creator)) || creator == nullptr)
        return nullptr;
    creator->SetGUID(GUID_NULL);
    creator->SetSource(info.bstrSource);
    creator->SetDescription(info.bstrDescription);
    creator->SetHelpFile(info.bstrHelpFile);
    creator->SetHelpContext(info.dwHelpContext);
    IErrorInfo* errorInfo = nullptr;
    if (FAILED(creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&errorInfo))))
        errorInfo = nullptr;
    creator->Release();
    return errorInfo;
}

[[noreturn]] void RaiseException(ExceptionDetails& details) {
    EXCEPINFO& info = details.info;
    if (info.pfnDeferredFillIn != nullptr)
        info.pfnDeferredFillIn(&info);
    HRESULT code = info.scode;
    if (code == S_OK)
        code = info.wCode != 0 ? _com_error::WCodeToHRESULT(info.wCode) : DISP_E_EXCEPTION;
    throw _com_error(code, ErrorInfoFrom(info), false);
}

bool IsOmitted(const VARIANT& argument) {
    return argument.vt == VT_ERROR && argument.scode == DISP_E_PARAMNOTFOUND;
}

// One IDispatch::Invoke. The arguments come in their natural order; trailing omitted ones
// are dropped. A put sends its single argument as the named argument DISPID_PROPERTYPUT.
void InvokeMember(const DispatchRef& object, DISPID member, WORD flags, VARIANT* arguments,
                  UINT argumentCount, VARIANT* result) {
    if (object.IsNull())
        RaiseComError(E_POINTER);
    while (argumentCount > 0 && IsOmitted(arguments[argumentCount - 1]))
        --argumentCount;
    // IDispatch takes the arguments last first; these are shallow copies, owned by the caller.
    // The members used take at most one argument: the copies live on the stack.
    VARIANT onStack[4];
    std::vector<VARIANT> onHeap;
    VARIANT* reversed = onStack;
    if (argumentCount > std::size(onStack)) {
        onHeap.resize(argumentCount);
        reversed = onHeap.data();
    }
    for (UINT i = 0; i < argumentCount; ++i)
        reversed[i] = arguments[argumentCount - 1 - i];
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {};
    parameters.rgvarg = argumentCount == 0 ? nullptr : reversed;
    parameters.cArgs = argumentCount;
    if (flags == DISPATCH_PROPERTYPUT) {
        parameters.rgdispidNamedArgs = &putId;
        parameters.cNamedArgs = 1;
    }
    ExceptionDetails details;
    UINT argumentError = 0;
    DWORD started = GetTickCount();
    HRESULT hr = object.Get()->Invoke(member, IID_NULL, 0, flags, &parameters, result,
                                      &details.info, &argumentError);
    // A busy Outlook is asked again for a while (BusyServer.h); an answered call never is.
    DWORD firstRejection = GetTickCount(), delay = 0;
    while (IsBusyAnswer(hr) && RetryBusyCall(GetTickCount() - firstRejection, &delay)) {
        Sleep(delay);
        details.Clear();
        if (result != nullptr)
            VariantClear(result);
        hr = object.Get()->Invoke(member, IID_NULL, 0, flags, &parameters, result, &details.info,
                                  &argumentError);
    }
    if (!IsBusyAnswer(hr))
        BusyServerAnswered();
    DWORD took = GetTickCount() - started;
    if (took > OutlookCallTimes.longestMs)
        OutlookCallTimes = {took, member};
    if (hr == DISP_E_EXCEPTION)
        RaiseException(details);
    if (FAILED(hr))
        RaiseComError(hr);
}

// Invokes and leaves a result of the wanted type in result.
void InvokeForResult(const DispatchRef& object, DISPID member, WORD flags, VARIANT* arguments,
                     UINT argumentCount, VARTYPE wanted, Variant& result) {
    InvokeMember(object, member, flags, arguments, argumentCount, &result.value);
    if (result.value.vt != wanted) {
        HRESULT hr = VariantChangeType(&result.value, &result.value, 0, wanted);
        if (FAILED(hr))
            RaiseComError(hr);
    }
}

DispatchRef TakeDispatch(Variant& result) {
    DispatchRef taken(result.value.pdispVal);
    result.value.pdispVal = nullptr;
    result.value.vt = VT_EMPTY;
    return taken;
}

} // namespace

DispatchRef QueryDispatch(const DispatchRef& object) {
    if (object.IsNull())
        return DispatchRef();
    IDispatch* dispatch = nullptr;
    HRESULT result =
        object.Get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (result == E_NOINTERFACE)
        return DispatchRef();
    if (FAILED(result))
        RaiseComError(result);
    return DispatchRef(dispatch);
}

DispatchRef GetObjectProperty(const DispatchRef& object, DISPID member) {
    Variant result;
    InvokeForResult(object, member, DISPATCH_PROPERTYGET, nullptr, 0, VT_DISPATCH, result);
    return TakeDispatch(result);
}

long GetLongProperty(const DispatchRef& object, DISPID member) {
    Variant result;
    InvokeForResult(object, member, DISPATCH_PROPERTYGET, nullptr, 0, VT_I4, result);
    return result.value.lVal;
}

std::optional<std::string> GetStringProperty(const DispatchRef& object, DISPID member) {
    Variant result;
    InvokeForResult(object, member, DISPATCH_PROPERTYGET, nullptr, 0, VT_BSTR, result);
    return BstrToNarrow(result.value.bstrVal);
}

void PutStringProperty(const DispatchRef& object, DISPID member, const char* value) {
    Variant argument;
    argument.value.bstrVal = NarrowToBstr(value);
    argument.value.vt = VT_BSTR;
    InvokeMember(object, member, DISPATCH_PROPERTYPUT, &argument.value, 1, nullptr);
}

void PutStringProperty(const DispatchRef& object, DISPID member, const Bstr& value) {
    // Borrowed: the caller's Bstr keeps the text and frees it.
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = value.Get();
    InvokeMember(object, member, DISPATCH_PROPERTYPUT, &argument, 1, nullptr);
}

bool StringPropertyEquals(const DispatchRef& object, DISPID member, const char* expected) {
    Variant result;
    InvokeForResult(object, member, DISPATCH_PROPERTYGET, nullptr, 0, VT_BSTR, result);
    BSTR text = result.value.bstrVal;
    if (text == nullptr)
        return false;
    size_t expectedLength = std::strlen(expected);
    int wideLength = int(SysStringLen(text));
    if (wideLength == 0)
        return expectedLength == 0;
    // Compared in narrow text without a copy on the heap when it is short, as classes are.
    char buffer[256];
    int length = WideCharToMultiByte(CP_ACP, 0, text, wideLength, buffer, int(sizeof buffer),
                                     nullptr, nullptr);
    if (length > 0)
        return size_t(length) == expectedLength && std::memcmp(buffer, expected, length) == 0;
    std::optional<std::string> narrow = BstrToNarrow(text);
    return narrow && *narrow == std::string(expected, expectedLength);
}

DispatchRef CallObjectMethod(const DispatchRef& object, DISPID member, VARIANT* arguments,
                             UINT argumentCount) {
    Variant result;
    InvokeForResult(object, member, DISPATCH_METHOD, arguments, argumentCount, VT_DISPATCH, result);
    return TakeDispatch(result);
}

void CallMethod(const DispatchRef& object, DISPID member, VARIANT* arguments, UINT argumentCount) {
    InvokeMember(object, member, DISPATCH_METHOD, arguments, argumentCount, nullptr);
}

void CallMethodForValue(const DispatchRef& object, DISPID member, VARIANT* arguments,
                        UINT argumentCount, Variant& result) {
    result.Clear();
    InvokeMember(object, member, DISPATCH_METHOD, arguments, argumentCount, &result.value);
}
