// The Outlook stand-in's automation objects: the application, its "MAPI" namespace, folders,
// items and form descriptions of the sandbox profile, through IDispatch alone, as the
// documented object model has them:
//   - Folders.Item and Items.Item take an index from 1 to Count, or a text matched against
//     the folder's name or the item's subject; anything else fails.
//   - Items.Add takes an item type (OlItemType) or a message class, or nothing for the
//     folder's default form. The new item stays out of the folder until it is saved; Close
//     with olDiscard, or letting it go, leaves nothing behind.
//   - A MessageClass written to an item is the item's until Save (or Close with olSave) puts
//     it in the store; another reference to the same item still reads the stored class.
//   - A property is read only with DISPATCH_PROPERTYGET, a method called only with
//     DISPATCH_METHOD (both may be set), a put only with its named DISPID_PROPERTYPUT
//     argument; arguments are coerced to the declared type as type-library dispatch does.
//   - A failed call answers DISP_E_EXCEPTION with the HRESULT in the exception and no result.
//
// Every call goes to the record C:\sandbox\log\outlook.log with the object, member, flags,
// arguments and result; so do references released once too often, and the number of live
// objects whenever the application's last reference goes. Released objects are kept, not
// freed, so that a release too many is recorded rather than crashing (with SANDBOX_BENCH=1
// they are freed and nothing is recorded).
//
// The profile's fault table: "fail OBJECT MEMBER" fails the member (an automation exception
// carrying the HRESULT); MEMBER "IDispatch" makes the object refuse IDispatch, object
// "outlook" member "Create" fails the creation; "answer" hands back a null string or object,
// a value of another type, or the object as IUnknown; "close" closes the server during the
// call (in-process: this and every later call fails with RPC_E_DISCONNECTED, as a
// disconnected object does; out of process: the server's process ends); "busy" rejects calls
// for a while, uncounted. A folder with access=no fails every member with E_ACCESSDENIED.
// The calls count towards SANDBOX_FAIL_CALL="outlook:K" (Profile.h); out of process COM's
// proxy answers the client's QueryInterface, so that is no call of the stand-in there.
//
// Object names: "outlook", "namespace", "namespace.Folders", a store's name for its root
// folder, a folder's path, PATH.Folders and PATH.Items for its collections, an item's path
// ("Store/Folder#N"; a new item is named by the index it would have once saved),
// ITEM.FormDescription for an item's form.
#include "sandbox/outlook/Objects.h"

#include "sandbox/common/Record.h"
#include "sandbox/profile/Profile.h"

#include <oaidl.h>

#include <string>
#include <vector>

namespace standin {

const char Log[] = "outlook";

namespace {

LONG liveObjects = 0;
LONG serverLocks = 0;
Serving serving = Serving::InProcess;
void (*idleCallback)() = nullptr;
bool disconnected = false; // in-process: a "close" entry has closed the server

enum class Kind { Application, Namespace, Stores, Folder, Folders, Items, Item, Form };

enum Access : WORD {
    Get = DISPATCH_PROPERTYGET,
    Method = DISPATCH_METHOD,
    Put = DISPATCH_PROPERTYPUT
};

// What a member takes: nothing, text, a number, an index (a number or a name), or an item
// type (a number or a message class).
enum class Argument { None, Text, Number, Index, ItemType };
// What it gives back.
enum class Result { None, Text, Number, Object };

struct Member {
    Kind kind;
    DISPID id;
    Access access;
    const char* name;
    Argument argument;
    bool optional; // the argument may be left out
    Result result;
};

const Member members[] = {
    {Kind::Application, 0x110, Method, "GetNamespace", Argument::Text, false, Result::Object},
    {Kind::Namespace, 0x2103, Get, "Folders", Argument::None, false, Result::Object},
    {Kind::Stores, 0x50, Get, "Count", Argument::None, false, Result::Number},
    {Kind::Stores, 0x51, Method, "Item", Argument::Index, false, Result::Object},
    {Kind::Folders, 0x50, Get, "Count", Argument::None, false, Result::Number},
    {Kind::Folders, 0x51, Method, "Item", Argument::Index, false, Result::Object},
    {Kind::Folder, 0x2103, Get, "Folders", Argument::None, false, Result::Object},
    {Kind::Folder, 0x3106, Get, "DefaultItemType", Argument::None, false, Result::Number},
    {Kind::Folder, 0x3100, Get, "Items", Argument::None, false, Result::Object},
    {Kind::Folder, 0xF01E, Get, "EntryID", Argument::None, false, Result::Text},
    {Kind::Folder, 0x3108, Get, "StoreID", Argument::None, false, Result::Text},
    {Kind::Folder, 0x3001, Get, "Name", Argument::None, false, Result::Text},
    {Kind::Items, 0x50, Get, "Count", Argument::None, false, Result::Number},
    {Kind::Items, 0x51, Method, "Item", Argument::Index, false, Result::Object},
    {Kind::Items, 0xC8, Method, "Add", Argument::ItemType, true, Result::Object},
    {Kind::Item, 0x1A, Get, "MessageClass", Argument::None, false, Result::Text},
    {Kind::Item, 0x1A, Put, "MessageClass", Argument::Text, false, Result::None},
    {Kind::Item, 0xF048, Method, "Save", Argument::None, false, Result::None},
    {Kind::Item, 0xF095, Get, "FormDescription", Argument::None, false, Result::Object},
    {Kind::Item, 0xF023, Method, "Close", Argument::Number, false, Result::None},
    {Kind::Item, 0x37, Get, "Subject", Argument::None, false, Result::Text},
    {Kind::Form, 0x1A, Get, "MessageClass", Argument::None, false, Result::Text},
};

// The classes of OlItemType 0 to 7, as Items.Add gives them.
const char* const ItemTypeClasses[] = {"IPM.Note", "IPM.Appointment", "IPM.Contact",
                                       "IPM.Task", "IPM.Activity",    "IPM.StickyNote",
                                       "IPM.Post", "IPM.DistList"};

const long olSave = 0, olDiscard = 1, olPromptForSave = 2;
// What Outlook answers for a name that matches nothing (MAPI_E_NOT_FOUND).
const HRESULT NotFound = HRESULT(0x8004010F);

// A null BSTR is the empty string.
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

std::string DescribeArgument(const VARIANT& argument) {
    char text[64];
    switch (argument.vt) {
    case VT_I4:
        snprintf(text, sizeof text, "I4:%ld", argument.lVal);
        return text;
    case VT_BSTR:
        return argument.bstrVal ? "BSTR:" + Narrow(argument.bstrVal) : "BSTR:<null>";
    case VT_ERROR:
        snprintf(text, sizeof text, "ERROR:0x%08lX", static_cast<unsigned long>(argument.scode));
        return text;
    default:
        snprintf(text, sizeof text, "VT%u", unsigned(argument.vt));
        return text;
    }
}

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
            // A new item let go unsaved is gone, with whatever was written to it.
            pending = false;
            if (BenchMode())
                delete this; // nothing would record a release too many
            IdleCheck();
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

    Kind kind;
    int handle; // the folder or item; 0 for a store's root folder and its collections, and
                // for an item not yet saved
    std::string name;
    int store = 0;            // for a store's root folder and its collections
    int newItemFolder = 0;    // an item made by Add and not yet saved: its folder
    std::string newItemClass; // and the class it was made with
    bool pending = false;     // a MessageClass written and not yet saved
    std::string pendingClass; //
    std::string formClass;    // a form description's class

  private:
    HRESULT Busy();
    HRESULT Check(DISPID id, WORD flags, DISPPARAMS* parameters, UINT* argumentError,
                  const Member** found, VARIANT* argument);
    HRESULT Perform(const Member& member, VARIANT* argument, VARIANT* result);
    HRESULT PerformItem(const Member& member, VARIANT* argument, VARIANT* result);
    HRESULT Fetch(VARIANT* argument, VARIANT* result);
    std::string CurrentClass() const;
    void SaveItem();

    LONG references = 0;
    bool counted = true;
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

Object* FolderObject(int folder) {
    return NewObject(Kind::Folder, folder, sandbox::FolderPath(folder));
}

Object* RootObject(int store) {
    Object* root = NewObject(Kind::Folder, 0, sandbox::StoreName(store));
    root->store = store;
    return root;
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

HRESULT Object::Check(DISPID id, WORD flags, DISPPARAMS* parameters, UINT* argumentError,
                      const Member** found, VARIANT* argument) {
    const Member* member = nullptr;
    for (const Member& candidate : members) {
        if (candidate.kind != kind || candidate.id != id)
            continue;
        // A get or a method may be asked for with both flags set, as callers that cannot tell
        // them apart do; a get asked for as a method alone is not found, nor the reverse.
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
    UINT expected = member->argument == Argument::None ? 0 : 1;
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
    // An index or an item type is a name or class when it is text, else a number; the others
    // are coerced to the declared type, as type-library dispatch does.
    VARTYPE wanted = member->argument == Argument::Text ? VT_BSTR : VT_I4;
    if ((member->argument == Argument::Index || member->argument == Argument::ItemType) &&
        passed.vt == VT_BSTR)
        wanted = VT_BSTR;
    HRESULT coerced = VariantChangeType(argument, const_cast<VARIANT*>(&passed), 0, wanted);
    if (FAILED(coerced)) {
        if (argumentError != nullptr)
            *argumentError = 0;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
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
    VARIANT argument;
    VariantInit(&argument);
    HRESULT hr = iid != IID_NULL ? DISP_E_UNKNOWNINTERFACE
                                 : Check(id, flags, parameters, argumentError, &member, &argument);
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
                VariantClear(&argument);
                return RPC_E_DISCONNECTED;
            }
            if (how == sandbox::FaultKind::Fail)
                scode = HRESULT(failure);
        }
        if (scode == S_OK && kind == Kind::Folder && handle != 0 &&
            !sandbox::FolderAccessible(handle))
            scode = E_ACCESSDENIED;
        if (scode == S_OK)
            scode = Perform(*member, argument.vt == VT_EMPTY ? nullptr : &argument, result);
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
    VariantClear(&argument);
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

// Item of a collection: by index from 1 to Count, or by the name (a folder) or subject (an
// item) that the text matches.
HRESULT Object::Fetch(VARIANT* argument, VARIANT* result) {
    bool items = kind == Kind::Items;
    // Folders are few; a folder's items are taken one at a time, as a folder may hold 100,000.
    std::vector<int> entries;
    if (kind == Kind::Stores)
        entries = sandbox::Stores();
    else if (kind == Kind::Folders)
        entries = handle != 0 ? sandbox::FolderChildren(handle) : sandbox::StoreFolders(store);
    long count =
        items ? (handle != 0 ? sandbox::FolderItemCount(handle) : 0) : long(entries.size());
    long index = 0;
    if (argument->vt == VT_BSTR) {
        std::string wanted = Narrow(argument->bstrVal);
        for (long n = 1; n <= count && index == 0; ++n) {
            std::string entryName = items ? sandbox::ItemSubject(sandbox::FolderItemAt(handle, n))
                                    : kind == Kind::Folders
                                        ? sandbox::FolderName(entries[size_t(n) - 1])
                                        : sandbox::StoreName(entries[size_t(n) - 1]);
            if (entryName == wanted)
                index = n;
        }
        if (index == 0)
            return NotFound;
    } else {
        index = argument->lVal;
    }
    if (index < 1 || index > count)
        return DISP_E_BADINDEX;
    if (kind == Kind::Stores)
        ReturnObject(result, RootObject(entries[size_t(index) - 1]));
    else if (kind == Kind::Folders)
        ReturnObject(result, FolderObject(entries[size_t(index) - 1]));
    else // the item's path, without searching the folder for it
        ReturnObject(result,
                     NewObject(Kind::Item, sandbox::FolderItemAt(handle, index),
                               name.substr(0, name.size() - 6) + "#" + std::to_string(index)));
    return S_OK;
}

HRESULT Object::Perform(const Member& member, VARIANT* argument, VARIANT* result) {
    std::string what = member.name;
    switch (kind) {
    case Kind::Application:
        if (Narrow(argument->bstrVal) != "MAPI")
            return E_INVALIDARG;
        ReturnObject(result, NewObject(Kind::Namespace, 0, "namespace"));
        return S_OK;
    case Kind::Namespace:
        ReturnObject(result, NewObject(Kind::Stores, 0, "namespace.Folders"));
        return S_OK;
    case Kind::Stores:
    case Kind::Folders:
        if (what == "Count") {
            ReturnLong(result, long(kind == Kind::Stores ? sandbox::Stores().size()
                                    : handle != 0        ? sandbox::FolderChildren(handle).size()
                                                         : sandbox::StoreFolders(store).size()));
            return S_OK;
        }
        return Fetch(argument, result);
    case Kind::Folder:
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
        } else if (what == "Name") {
            ReturnString(result,
                         handle != 0 ? sandbox::FolderName(handle) : sandbox::StoreName(store));
        }
        return S_OK;
    case Kind::Items:
        if (what == "Count") {
            ReturnLong(result, handle != 0 ? sandbox::FolderItemCount(handle) : 0);
            return S_OK;
        }
        if (what == "Add") {
            if (handle == 0)
                return E_NOTIMPL;
            std::string messageClass = sandbox::NewItemClass(handle);
            if (argument != nullptr && argument->vt == VT_BSTR) {
                messageClass = Narrow(argument->bstrVal);
            } else if (argument != nullptr) {
                if (argument->lVal < 0 || argument->lVal > 7)
                    return E_INVALIDARG;
                messageClass = ItemTypeClasses[argument->lVal];
            }
            Object* item = NewObject(Kind::Item, 0,
                                     sandbox::FolderPath(handle) + "#" +
                                         std::to_string(sandbox::FolderItemCount(handle) + 1));
            item->newItemFolder = handle;
            item->newItemClass = messageClass;
            ReturnObject(result, item);
            return S_OK;
        }
        return Fetch(argument, result);
    case Kind::Item:
        return PerformItem(member, argument, result);
    case Kind::Form:
        ReturnString(result, formClass);
        return S_OK;
    }
    return E_UNEXPECTED;
}

std::string Object::CurrentClass() const {
    if (pending)
        return pendingClass;
    return handle != 0 ? sandbox::ItemClass(handle) : newItemClass;
}

// Puts the item in the store: a new one into its folder, a written class over the stored one.
void Object::SaveItem() {
    if (handle == 0 && newItemFolder != 0)
        handle = sandbox::AddItem(newItemFolder, CurrentClass());
    else if (pending)
        sandbox::SetItemClass(handle, pendingClass);
    pending = false;
    sandbox::ItemSaved(handle);
}

HRESULT Object::PerformItem(const Member& member, VARIANT* argument, VARIANT* result) {
    std::string what = member.name;
    if (what == "MessageClass" && member.access == Put) {
        pending = true;
        pendingClass = Narrow(argument->bstrVal);
    } else if (what == "MessageClass") {
        ReturnString(result, CurrentClass());
    } else if (what == "Save") {
        SaveItem();
    } else if (what == "Subject") {
        ReturnString(result, handle != 0 ? sandbox::ItemSubject(handle) : std::string());
    } else if (what == "FormDescription") {
        Object* form = NewObject(Kind::Form, handle, name + ".FormDescription");
        form->formClass = CurrentClass();
        ReturnObject(result, form);
    } else if (what == "Close") {
        // olPromptForSave would ask the user, whom automation has not got: nothing is saved.
        long option = argument->lVal;
        if (option < olSave || option > olPromptForSave)
            return E_INVALIDARG;
        if (option == olSave)
            SaveItem();
        pending = false;
        if (option == olDiscard && handle == 0)
            newItemFolder = 0; // discarded: it never reaches the folder
    }
    return S_OK;
}

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

long LiveObjects() {
    return liveObjects;
}

long ServerLocks() {
    return serverLocks;
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
