#include "FakeOutlook.h"

#include <cstring>

namespace fake {

namespace {

const WORD Get = DISPATCH_PROPERTYGET;
const WORD Method = DISPATCH_METHOD;
const WORD Put = DISPATCH_PROPERTYPUT;

struct MemberRule {
    Kind kind;
    DISPID id;
    WORD flags;
    const char* name;
    UINT arguments;
    VARTYPE argumentType;
    bool result;
};

// What Outlook's type library declares for the members the conversion uses.
const MemberRule members[] = {
    {Kind::Application, 0x110, Method, "GetNamespace", 1, VT_BSTR, true},
    {Kind::Namespace, 0x2103, Get, "Folders", 0, VT_EMPTY, true},
    {Kind::FolderCollection, 0x50, Get, "Count", 0, VT_EMPTY, true},
    {Kind::FolderCollection, 0x51, Method, "Item", 1, VT_I4, true},
    {Kind::Folder, 0x2103, Get, "Folders", 0, VT_EMPTY, true},
    {Kind::Folder, 0x3106, Get, "DefaultItemType", 0, VT_EMPTY, true},
    {Kind::Folder, 0x3100, Get, "Items", 0, VT_EMPTY, true},
    {Kind::Folder, 0xF01E, Get, "EntryID", 0, VT_EMPTY, true},
    {Kind::Folder, 0x3108, Get, "StoreID", 0, VT_EMPTY, true},
    {Kind::Folder, 0x3001, Get, "Name", 0, VT_EMPTY, true},
    {Kind::ItemCollection, 0x50, Get, "Count", 0, VT_EMPTY, true},
    {Kind::ItemCollection, 0x51, Method, "Item", 1, VT_I4, true},
    {Kind::ItemCollection, 0x5F, Method, "Add", 0, VT_EMPTY, true},
    {Kind::Item, 0x1A, Get, "MessageClass", 0, VT_EMPTY, true},
    {Kind::Item, 0x1A, Put, "MessageClass=", 1, VT_BSTR, false},
    {Kind::Item, 0xF048, Method, "Save", 0, VT_EMPTY, false},
    {Kind::Item, 0xF095, Get, "FormDescription", 0, VT_EMPTY, true},
    {Kind::Item, 0xF023, Method, "Close", 1, VT_I4, false},
    {Kind::Item, 0x37, Get, "Subject", 0, VT_EMPTY, true},
    {Kind::Form, 0x1A, Get, "MessageClass", 0, VT_EMPTY, true},
};

void SetObject(VARIANT* result, Object* object) {
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    if (object != nullptr)
        object->AddRef();
}

void SetString(VARIANT* result, const std::optional<std::wstring>& text) {
    result->vt = VT_BSTR;
    result->bstrVal = text ? SysAllocStringLen(text->data(), UINT(text->size())) : nullptr;
}

void SetLong(VARIANT* result, long value) {
    result->vt = VT_I4;
    result->lVal = value;
}

} // namespace

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 128 ? char(c) : '?';
    return narrow;
}

HRESULT Object::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (iid == IID_IDispatch) {
        if (queryFailure != S_OK)
            return queryFailure;
        if (refusesDispatch)
            return E_NOINTERFACE;
    } else if (iid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IDispatch*>(this);
    return S_OK;
}

ULONG Object::AddRef() {
    return ULONG(++references);
}

ULONG Object::Release() {
    if (references <= 0) {
        world.violations.push_back("released once too often: " + name);
        return 0;
    }
    return ULONG(--references);
}

HRESULT Object::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

HRESULT Object::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT Object::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    world.violations.push_back("GetIDsOfNames called on " + name);
    return E_NOTIMPL;
}

HRESULT Object::Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    std::string where = name + " DISPID " + std::to_string(member) + ": ";
    if (iid != IID_NULL) {
        world.violations.push_back(where + "interface id not IID_NULL");
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (locale != 0)
        world.violations.push_back(where + "locale not 0");
    const MemberRule* rule = nullptr;
    bool known = false;
    for (const MemberRule& candidate : members) {
        if (candidate.kind == kind && candidate.id == member) {
            known = true;
            if (candidate.flags == flags)
                rule = &candidate;
        }
    }
    if (rule == nullptr) {
        world.violations.push_back(where + (known ? "wrong flags" : "unknown member"));
        return DISP_E_MEMBERNOTFOUND;
    }
    if (parameters == nullptr) {
        world.violations.push_back(where + "no parameters");
        return E_INVALIDARG;
    }
    UINT named = flags == Put ? 1 : 0;
    if (parameters->cNamedArgs != named) {
        world.violations.push_back(where + "named arguments");
        return named ? DISP_E_PARAMNOTOPTIONAL : DISP_E_NONAMEDARGS;
    }
    if (named && parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        world.violations.push_back(where + "put without DISPID_PROPERTYPUT");
        return DISP_E_PARAMNOTFOUND;
    }
    if (parameters->cArgs != rule->arguments) {
        world.violations.push_back(where + "argument count " + std::to_string(parameters->cArgs));
        return DISP_E_BADPARAMCOUNT;
    }
    if (rule->arguments == 1 && parameters->rgvarg[0].vt != rule->argumentType) {
        world.violations.push_back(where + "argument type");
        if (argumentError != nullptr)
            *argumentError = 0;
        return DISP_E_TYPEMISMATCH;
    }
    if (rule->result && result == nullptr) {
        world.violations.push_back(where + "no result variant");
        return E_INVALIDARG;
    }
    if (!rule->result && result != nullptr)
        world.violations.push_back(where + "result requested of a member without one");

    std::string call = name + "." + rule->name;
    if (rule->arguments == 1) {
        const VARIANT& argument = parameters->rgvarg[0];
        std::string text = argument.vt == VT_I4
                               ? std::to_string(argument.lVal)
                               : (argument.bstrVal ? Narrow(argument.bstrVal) : "<null>");
        call += flags == Put ? text : "(" + text + ")";
    } else if (flags == Method) {
        call += "()";
    }
    world.calls.push_back(call);

    if (result != nullptr)
        VariantInit(result);
    const Behaviour* behaviour = world.Find(name, rule->name);
    if (behaviour != nullptr && behaviour->index != 0 &&
        !(rule->arguments == 1 && parameters->rgvarg[0].vt == VT_I4 &&
          parameters->rgvarg[0].lVal == behaviour->index))
        behaviour = nullptr;
    if (behaviour != nullptr && behaviour->times != 0 && behaviour->seen++ >= behaviour->times)
        behaviour = nullptr;
    if (behaviour != nullptr) {
        switch (behaviour->what) {
        case Misbehaviour::Fail:
            return behaviour->result;
        case Misbehaviour::Exception:
        case Misbehaviour::WCodeOnly:
            if (exception != nullptr) {
                std::memset(exception, 0, sizeof *exception);
                if (behaviour->what == Misbehaviour::Exception)
                    exception->scode = behaviour->result;
                else
                    exception->wCode = 7;
                exception->bstrSource = SysAllocString(L"Fake Outlook");
                exception->bstrDescription = SysAllocString(L"The operation failed.");
            }
            return DISP_E_EXCEPTION;
        default:
            break;
        }
    }
    HRESULT hr = Dispatch(rule->name, parameters, result);
    if (FAILED(hr) || behaviour == nullptr || result == nullptr)
        return hr;
    if (behaviour->what == Misbehaviour::NullResult) {
        if (result->vt == VT_DISPATCH && result->pdispVal != nullptr) {
            result->pdispVal->Release();
            result->pdispVal = nullptr;
        } else if (result->vt == VT_BSTR) {
            SysFreeString(result->bstrVal);
            result->bstrVal = nullptr;
        }
    } else if (behaviour->what == Misbehaviour::OddType) {
        VariantClear(result);
        VariantCopy(result, const_cast<VARIANT*>(&behaviour->odd));
    }
    return hr;
}

HRESULT Object::Dispatch(const std::string& member, DISPPARAMS* parameters, VARIANT* result) {
    if (member == "GetNamespace") {
        SetObject(result, link);
    } else if (member == "Folders") {
        SetObject(result, subfolders);
    } else if (member == "Count") {
        SetLong(result, long(children.size()));
    } else if (member == "Item") {
        long index = parameters->rgvarg[0].lVal;
        if (index < 1 || size_t(index) > children.size())
            return DISP_E_BADINDEX;
        SetObject(result, children[size_t(index) - 1]);
    } else if (member == "DefaultItemType") {
        SetLong(result, defaultItemType);
    } else if (member == "Items") {
        SetObject(result, items);
    } else if (member == "EntryID") {
        SetString(result, entryId);
    } else if (member == "StoreID") {
        SetString(result, storeId);
    } else if (member == "Add") {
        std::string base = owner ? owner->name : name;
        Object* item = world.Make(Kind::Item, base + ".new" + std::to_string(++world.itemsCreated));
        item->messageClass = owner ? owner->defaultForm : L"IPM.Task";
        item->form = world.Make(Kind::Form, item->name + ".form");
        item->form->messageClass = item->messageClass;
        item->refusesDispatch = newItemsRefuseDispatch;
        item->queryFailure = newItemQueryFailure;
        SetObject(result, item);
    } else if (member == "MessageClass") {
        SetString(result, messageClass);
    } else if (member == "MessageClass=") {
        BSTR value = parameters->rgvarg[0].bstrVal;
        messageClass = std::wstring(value ? value : L"", value ? SysStringLen(value) : 0);
    } else if (member == "Save") {
        ++saves;
    } else if (member == "FormDescription") {
        SetObject(result, form);
    } else if (member == "Close") {
        ++closes;
    } else if (member == "Name" || member == "Subject") {
        SetString(result, std::wstring(name.begin(), name.end()));
    }
    return S_OK;
}

World::~World() {
    for (auto& entry : behaviours)
        VariantClear(&entry.second.odd);
}

Object* World::Make(Kind kind, const std::string& name) {
    objects.push_back(std::make_unique<Object>(*this, kind, name));
    return objects.back().get();
}

Object* World::Folder(const std::string& name, long itemType) {
    Object* folder = Make(Kind::Folder, name);
    folder->defaultItemType = itemType;
    folder->subfolders = Make(Kind::FolderCollection, name + ".Folders");
    folder->items = Make(Kind::ItemCollection, name + ".Items");
    folder->items->owner = folder;
    return folder;
}

Object* World::AddFolder(Object* parent, const std::string& name, long itemType) {
    Object* folder = Folder(name, itemType);
    Object* collection = parent->kind == Kind::Folder ? parent->subfolders : parent;
    collection->children.push_back(folder);
    return folder;
}

Object* World::AddItem(Object* folder, const std::string& name, const wchar_t* messageClass) {
    Object* item = Make(Kind::Item, name);
    if (messageClass != nullptr)
        item->messageClass = std::wstring(messageClass);
    folder->items->children.push_back(item);
    return item;
}

Object* World::Collection(const std::string& name) {
    return Make(Kind::FolderCollection, name);
}

void World::Set(const std::string& object, const std::string& member, Behaviour behaviour) {
    behaviours[object + "." + member] = behaviour;
}

void World::Fail(const std::string& object, const std::string& member, HRESULT result) {
    Behaviour behaviour;
    behaviour.result = result;
    Set(object, member, behaviour);
}

const Behaviour* World::Find(const std::string& object, const std::string& member) const {
    auto found = behaviours.find(object + "." + member);
    return found == behaviours.end() ? nullptr : &found->second;
}

long World::LiveReferences() const {
    long live = 0;
    for (const auto& object : objects)
        live += object->references;
    return live;
}

std::string World::Leaks() const {
    std::string leaks;
    for (const auto& object : objects)
        if (object->references != 0)
            leaks += object->name + "=" + std::to_string(object->references) + " ";
    return leaks;
}

size_t World::CountCalls(const std::string& call) const {
    size_t count = 0;
    for (const std::string& made : calls)
        count += made == call;
    return count;
}

size_t World::CountCallsStartingWith(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& made : calls)
        count += made.compare(0, prefix.size(), prefix) == 0;
    return count;
}

} // namespace fake
