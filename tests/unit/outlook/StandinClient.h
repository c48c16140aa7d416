#pragma once
// What the tests of the Outlook stand-in share: raw IDispatch calls and the in-process server
// over a profile of their own.
#include <doctest.h>

#include "platform/Outlook.h"
#include "tests/support/SandboxState.h"

#include <windows.h>

#include <ole2.h>

#include <string>
#include <vector>

namespace standintest {

// One raw Invoke; arguments in their natural order. Frees what an exception carries and
// hands back its scode through scode.
struct Call {
    HRESULT result = E_FAIL;
    HRESULT scode = S_OK;
    VARIANT value;
    Call() { VariantInit(&value); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() { VariantClear(&value); }
    IDispatch* Object() const { return value.vt == VT_DISPATCH ? value.pdispVal : nullptr; }
};

inline void Invoke(Call& call, IDispatch* object, DISPID member, WORD flags,
                   std::vector<VARIANT> arguments = {}, bool named = false, REFIID iid = IID_NULL) {
    REQUIRE(object != nullptr);
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {reversed.empty() ? nullptr : reversed.data(), named ? &put : nullptr,
                             UINT(reversed.size()), named ? 1u : 0u};
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    call.result =
        object->Invoke(member, iid, 0, flags, &parameters, &call.value, &exception, &argumentError);
    call.scode = exception.scode;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

inline VARIANT Long(long value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

// The strings here stay alive for the test's whole run.
inline VARIANT Text(const wchar_t* text) {
    static std::vector<BSTR> kept;
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BSTR;
    variant.bstrVal = SysAllocString(text);
    kept.push_back(variant.bstrVal);
    return variant;
}

// The in-process stand-in serving the profile given, created as a client creates Outlook.
struct Server {
    IDispatch* application = nullptr;
    explicit Server(const std::string& profile) {
        RegisterOutlookStandin(OutlookServer::InProcess);
        CreateDirectoryA("C:\\sandbox", nullptr);
        CreateFileWithText("C:\\sandbox\\profile.txt", profile);
        REQUIRE(ReadWholeFile("C:\\sandbox\\profile.txt") == profile);
        REQUIRE(CoInitialize(nullptr) == S_OK);
        REQUIRE(CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext,
                                 IID_IDispatch, reinterpret_cast<void**>(&application)) == S_OK);
    }
    ~Server() {
        if (application != nullptr)
            application->Release();
        CoUninitialize();
    }
    // A folder of store "P" ("Tasks" is the first) by way of the namespace and its folders.
    void TasksFolder(Call& folder, VARIANT which = Long(1)) {
        Call mapi, stores, store, folders;
        Invoke(mapi, application, OutlookDispId::GetNamespace, DISPATCH_METHOD, {Text(L"MAPI")});
        Invoke(stores, mapi.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        Invoke(store, stores.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        Invoke(folders, store.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        Invoke(folder, folders.Object(), OutlookDispId::Item, DISPATCH_METHOD, {which});
        REQUIRE(folder.Object() != nullptr);
    }
};

} // namespace standintest
