// Stand-in for Outlook's automation server: an in-process server of the application class
// that serves the sandbox profile's stores, folders and items through IDispatch alone.
//
// It is as strict as a type-library IDispatch: wrong flags, argument counts or types, a bad
// index or an unknown DISPID fail as real automation does. Every call goes to the record
// C:\sandbox\log\outlook.log with the object, member, flags, arguments and result; so do
// references released once too often, and the number of live objects whenever the
// application's last reference goes, when COM asks whether the DLL can unload and at detach.
//
// Faults come from the profile's fault table: "fail OBJECT MEMBER K|* [HRESULT]" fails the
// member (raised as an automation exception carrying the HRESULT); MEMBER "IDispatch" makes
// the object refuse IDispatch; object "outlook" member "Create" fails the creation. A folder
// with access=no fails every member with E_ACCESSDENIED. Each of these calls counts towards
// SANDBOX_FAIL_CALL="outlook:K" (Profile.h); SandboxLiveObjects tells how many objects are
// still referenced. With SANDBOX_BENCH=1 nothing is recorded and released objects are freed.
//
// Object names: "outlook", "namespace", "namespace.Folders", a store's name for its root
// folder, a folder's path, PATH.Folders and PATH.Items for its collections, an item's path
// ("Store/Folder#N"), ITEM.FormDescription for an item's form.
#include "sandbox/common/Record.h"
#include "sandbox/profile/Profile.h"

#include <windows.h>

#include <oaidl.h>
#include <ole2.h>

#include <string>
#include <vector>

namespace {

const char Log[] = "outlook";

// {0006F033-0000-0000-C000-000000000046}
const CLSID CLSID_Application = {
    0x0006F033, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

LONG liveObjects = 0;
LONG serverLocks = 0;

enum class Kind { Application, Namespace, Stores, Folder, Folders, Items, Item, Form };

enum Access : WORD {
    Get = DISPATCH_PROPERTYGET,
    Method = DISPATCH_METHOD,
    Put = DISPATCH_PROPERTYPUT
};

struct Member {
    Kind kind;
    DISPID id;
    Access access;
    const char* name;
    VARTYPE argument; // VT_EMPTY: none
    bool optional;    // the argument may be left out
};

const Member members[] = {
    {Kind::Application, 0x110, Method, "GetNamespace", VT_BSTR, false},
    {Kind::Namespace, 0x2103, Get, "Folders", VT_EMPTY, false},
    {Kind::Stores, 0x50, Get, "Count", VT_EMPTY, false},
    {Kind::Stores, 0x51, Method, "Item", VT_I4, false},
    {Kind::Folders, 0x50, Get, "Count", VT_EMPTY, false},
    {Kind::Folders, 0x51, Method, "Item", VT_I4, false},
    {Kind::Folder, 0x2103, Get, "Folders", VT_EMPTY, false},
    {Kind::Folder, 0x3106, Get, "DefaultItemType", VT_EMPTY, false},
    {Kind::Folder, 0x3100, Get, "Items", VT_EMPTY, false},
    {Kind::Folder, 0xF01E, Get, "EntryID", VT_EMPTY, false},
    {Kind::Folder, 0x3108, Get, "StoreID", VT_EMPTY, false},
    {Kind::Items, 0x50, Get, "Count", VT_EMPTY, false},
    {Kind::Items, 0x51, Method, "Item", VT_I4, false},
    {Kind::Items, 0xC8, Method, "Add", VT_I4, true},
    {Kind::Item, 0x1A, Get, "MessageClass", VT_EMPTY, false},
    {Kind::Item, 0x1A, Put, "MessageClass", VT_BSTR, false},
    {Kind::Item, 0xF048, Method, "Save", VT_EMPTY, false},
    {Kind::Item, 0xF095, Get, "FormDescription", VT_EMPTY, false},
    {Kind::Item, 0xF023, Method, "Close", VT_I4, false},
    {Kind::Form, 0x1A, Get, "MessageClass", VT_EMPTY, false},
};

std::string Narrow(BSTR text) {
    if (text == nullptr)
        return "<null>";
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

std::string DescribeArgument(const VARIANT& argument) {
    char text[64];
    switch (argument.vt) {
    case VT_I4:
        snprintf(text, sizeof text, "I4:%ld", argument.lVal);
        return text;
    case VT_BSTR:
        return "BSTR:" + Narrow(argument.bstrVal);
    case VT_ERROR:
        snprintf(text, sizeof text, "ERROR:0x%08lX", static_cast<unsigned long>(argument.scode));
        return text;
    default:
        snprintf(text, sizeof text, "VT%u", unsigned(argument.vt));
        return text;
    }
}

HRESULT Fault(const std::string& object, const char* member) {
    long result = 0;
    return sandbox::ShouldFailCall(Log, object, member, &result) ? HRESULT(result) : S_OK;
}

class Object : public IDispatch {
  public:
    Object(Kind kind, int handle, std::string name)
        : kind(kind), handle(handle), name(std::move(name)) {
        InterlockedIncrement(&liveObjects);
    }
    virtual ~Object() {
        if (counted)
            InterlockedDecrement(&liveObjects);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IDispatch) {
            HRESULT refused = Fault(name, "IDispatch");
            if (refused != S_OK) {
                sandbox::Record(Log, "QueryInterface object=\"%s\" IDispatch -> 0x%08lX",
                                name.c_str(), static_cast<unsigned long>(E_NOINTERFACE));
                return E_NOINTERFACE;
            }
        } else if (iid != IID_IUnknown) {
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (!counted) {
            counted = true;
            InterlockedIncrement(&liveObjects);
        }
        return ULONG(InterlockedIncrement(&references));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (references <= 0) {
            sandbox::Record(Log, "Release object=\"%s\" after its last release", name.c_str());
            return 0;
        }
        LONG left = InterlockedDecrement(&references);
        if (left == 0) {
            // Released objects are kept, not freed, so that a release too many is recorded
            // rather than crashing the caller; they no longer count as live.
            InterlockedDecrement(&liveObjects);
            counted = false;
            if (kind == Kind::Application)
                sandbox::Record(Log, "last release object=\"%s\" live=%ld", name.c_str(),
                                liveObjects);
            if (BenchMode())
                delete this; // nothing would record a release too many
        }
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

  private:
    HRESULT Check(DISPID id, WORD flags, DISPPARAMS* parameters, UINT* argumentError,
                  const Member** found, VARIANT* argument);
    HRESULT Perform(const Member& member, VARIANT* argument, VARIANT* result);

    LONG references = 0;
    bool counted = true;
    Kind kind;
    int handle; // the folder or item; 0 for a store's root folder and its collections
    std::string name;

  public:
    int store = 0; // for a store's root folder and its collections
};

Object* NewObject(Kind kind, int handle, const std::string& name) {
    return new Object(kind, handle, name);
}

// Whoever receives an object owns one reference.
void ReturnObject(VARIANT* result, Object* object) {
    object->AddRef();
    if (result != nullptr) {
        result->vt = VT_DISPATCH;
        result->pdispVal = object;
    } else {
        object->Release();
    }
}

void ReturnString(VARIANT* result, const std::string& text) {
    if (result == nullptr)
        return;
    result->vt = VT_BSTR;
    result->bstrVal = Wide(text);
}

void ReturnLong(VARIANT* result, long value) {
    if (result == nullptr)
        return;
    result->vt = VT_I4;
    result->lVal = value;
}

Object* FolderObject(int folder) {
    return NewObject(Kind::Folder, folder, sandbox::FolderPath(folder));
}

Object* RootObject(int store) {
    Object* root = NewObject(Kind::Folder, 0, sandbox::StoreName(store));
    root->store = store;
    return root;
}

HRESULT Object::Check(DISPID id, WORD flags, DISPPARAMS* parameters, UINT* argumentError,
                      const Member** found, VARIANT* argument) {
    const Member* member = nullptr;
    for (const Member& candidate : members) {
        if (candidate.kind != kind || candidate.id != id)
            continue;
        // A property get may also be asked for as a method, as type-library dispatch allows.
        bool matches = candidate.access == Put
                           ? flags == DISPATCH_PROPERTYPUT
                           : (flags & candidate.access) != 0 && (flags & ~(Get | Method)) == 0;
        if (matches)
            member = &candidate;
    }
    if (member == nullptr)
        return DISP_E_MEMBERNOTFOUND;
    *found = member;
    if (parameters == nullptr)
        return E_INVALIDARG;
    UINT named = member->access == Put ? 1 : 0;
    if (parameters->cNamedArgs != named)
        return named ? DISP_E_PARAMNOTOPTIONAL : DISP_E_NONAMEDARGS;
    if (named && (parameters->rgdispidNamedArgs == nullptr ||
                  parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return DISP_E_PARAMNOTFOUND;
    UINT expected = member->argument == VT_EMPTY ? 0 : 1;
    UINT given = parameters->cArgs;
    if (given > expected || (given < expected && !member->optional))
        return DISP_E_BADPARAMCOUNT;
    if (given == 0)
        return S_OK;
    if (parameters->rgvarg == nullptr)
        return E_INVALIDARG;
    const VARIANT& passed = parameters->rgvarg[0];
    if (member->optional && passed.vt == VT_ERROR && passed.scode == DISP_E_PARAMNOTFOUND)
        return S_OK;
    // Arguments are coerced to the declared type, as type-library dispatch does.
    HRESULT coerced =
        VariantChangeType(argument, const_cast<VARIANT*>(&passed), 0, member->argument);
    if (FAILED(coerced)) {
        if (argumentError != nullptr)
            *argumentError = 0;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Object::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    std::string arguments;
    if (parameters != nullptr && parameters->rgvarg != nullptr) {
        for (UINT n = parameters->cArgs; n > 0; --n)
            arguments +=
                (arguments.empty() ? "" : ",") + DescribeArgument(parameters->rgvarg[n - 1]);
    }
    const Member* member = nullptr;
    VARIANT argument;
    VariantInit(&argument);
    HRESULT hr = iid != IID_NULL ? DISP_E_UNKNOWNINTERFACE
                                 : Check(id, flags, parameters, argumentError, &member, &argument);
    HRESULT scode = S_OK;
    if (hr == S_OK) {
        if (result != nullptr)
            VariantInit(result);
        std::string faultName = member->access == Put ? "MessageClass=" : member->name;
        scode = Fault(name, faultName.c_str());
        if (scode == S_OK && kind == Kind::Folder && handle != 0 &&
            !sandbox::FolderAccessible(handle))
            scode = E_ACCESSDENIED;
        if (scode == S_OK)
            scode = Perform(*member, argument.vt == VT_EMPTY ? nullptr : &argument, result);
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
    VariantClear(&argument);
    char memberText[64];
    if (member != nullptr)
        snprintf(memberText, sizeof memberText, "%s", member->name);
    else
        snprintf(memberText, sizeof memberText, "DISPID%ld", long(id));
    sandbox::Record(Log,
                    "invoke object=\"%s\" member=%s flags=%u args=[%s] result=%s -> 0x%08lX "
                    "scode=0x%08lX",
                    name.c_str(), memberText, unsigned(flags), arguments.c_str(),
                    result != nullptr ? "yes" : "no", static_cast<unsigned long>(hr),
                    static_cast<unsigned long>(scode));
    return hr;
}

HRESULT Object::Perform(const Member& member, VARIANT* argument, VARIANT* result) {
    std::string what = member.name;
    switch (kind) {
    case Kind::Application: {
        if (Narrow(argument->bstrVal) != "MAPI")
            return E_INVALIDARG;
        ReturnObject(result, NewObject(Kind::Namespace, 0, "namespace"));
        return S_OK;
    }
    case Kind::Namespace:
        ReturnObject(result, NewObject(Kind::Stores, 0, "namespace.Folders"));
        return S_OK;
    case Kind::Stores: {
        std::vector<int> stores = sandbox::Stores();
        if (what == "Count") {
            ReturnLong(result, long(stores.size()));
            return S_OK;
        }
        long index = argument->lVal;
        if (index < 1 || size_t(index) > stores.size())
            return DISP_E_BADINDEX;
        ReturnObject(result, RootObject(stores[size_t(index) - 1]));
        return S_OK;
    }
    case Kind::Folders: {
        std::vector<int> folders =
            handle != 0 ? sandbox::FolderChildren(handle) : sandbox::StoreFolders(store);
        if (what == "Count") {
            ReturnLong(result, long(folders.size()));
            return S_OK;
        }
        long index = argument->lVal;
        if (index < 1 || size_t(index) > folders.size())
            return DISP_E_BADINDEX;
        ReturnObject(result, FolderObject(folders[size_t(index) - 1]));
        return S_OK;
    }
    case Kind::Folder: {
        if (what == "Folders") {
            Object* folders = NewObject(Kind::Folders, handle, name + ".Folders");
            folders->store = store;
            ReturnObject(result, folders);
        } else if (what == "DefaultItemType") {
            ReturnLong(result, handle != 0 ? sandbox::FolderItemType(handle) : 0);
        } else if (what == "Items") {
            ReturnObject(result, NewObject(Kind::Items, handle, name + ".Items"));
        } else if (what == "EntryID") {
            sandbox::Bytes id =
                handle != 0 ? sandbox::FolderEntryId(handle) : sandbox::StoreId(store);
            std::string text = sandbox::HexText(id.data(), id.size());
            if (handle != 0)
                sandbox::FolderOutlookId(handle, false, &text);
            ReturnString(result, handle != 0 ? text : "00000000" + text);
        } else if (what == "StoreID") {
            sandbox::Bytes id =
                sandbox::StoreId(handle != 0 ? sandbox::FolderStore(handle) : store);
            std::string text = sandbox::HexText(id.data(), id.size());
            if (handle != 0)
                sandbox::FolderOutlookId(handle, true, &text);
            ReturnString(result, text);
        }
        return S_OK;
    }
    case Kind::Items: {
        if (what == "Count") {
            ReturnLong(result, handle != 0 ? sandbox::FolderItemCount(handle) : 0);
            return S_OK;
        }
        if (what == "Add") {
            if (handle == 0)
                return E_NOTIMPL;
            int item = sandbox::AddItem(handle, sandbox::NewItemClass(handle));
            ReturnObject(result, NewObject(Kind::Item, item, sandbox::ItemPath(item)));
            return S_OK;
        }
        long index = argument->lVal;
        int item = handle != 0 ? sandbox::FolderItemAt(handle, index) : 0;
        if (item == 0)
            return DISP_E_BADINDEX;
        // The item's path, without searching the folder for it.
        ReturnObject(result,
                     NewObject(Kind::Item, item,
                               name.substr(0, name.size() - 6) + "#" + std::to_string(index)));
        return S_OK;
    }
    case Kind::Item:
        if (what == "MessageClass" && member.access == Put) {
            sandbox::SetItemClass(handle, Narrow(argument->bstrVal));
        } else if (what == "MessageClass") {
            ReturnString(result, sandbox::ItemClass(handle));
        } else if (what == "Save") {
            sandbox::ItemSaved(handle);
        } else if (what == "FormDescription") {
            Object* form = NewObject(Kind::Form, handle, name + ".FormDescription");
            ReturnObject(result, form);
        } else if (what == "Close") {
            // 0 saves; 1 discards, and a never saved item then disappears; 2 would prompt.
            long option = argument->lVal;
            if (option < 0 || option > 2)
                return E_INVALIDARG;
            if (option == 0)
                sandbox::ItemSaved(handle);
            else if (sandbox::ItemSaveCount(handle) == 0)
                sandbox::RemoveItem(handle);
        }
        return S_OK;
    case Kind::Form:
        ReturnString(result, sandbox::ItemClass(handle));
        return S_OK;
    }
    return E_UNEXPECTED;
}

class Factory : public IClassFactory {
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
        HRESULT failure = Fault("outlook", "Create");
        if (failure != S_OK) {
            sandbox::Record(Log, "create -> 0x%08lX", static_cast<unsigned long>(failure));
            return failure;
        }
        Object* application = NewObject(Kind::Application, 0, "outlook");
        HRESULT result = application->QueryInterface(iid, out);
        sandbox::Record(Log, "create -> 0x%08lX live=%ld", static_cast<unsigned long>(result),
                        liveObjects);
        if (FAILED(result))
            delete application;
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&serverLocks);
        else
            InterlockedDecrement(&serverLocks);
        return S_OK;
    }
};

Factory factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_Application)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, out);
}

extern "C" long SandboxLiveObjects() {
    return liveObjects;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    sandbox::Record(Log, "DllCanUnloadNow live=%ld locks=%ld", liveObjects, serverLocks);
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_DETACH)
        sandbox::Record(Log, "detach live=%ld", liveObjects);
    return TRUE;
}
