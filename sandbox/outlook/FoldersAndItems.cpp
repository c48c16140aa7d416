// What the Outlook stand-in's members do: the application and its namespace, the store and
// folder collections, folders, items and their form descriptions, served from the profile.
#include "sandbox/outlook/ObjectModel.h"

#include "sandbox/profile/Profile.h"

#include <vector>

namespace standin {

namespace {

// The classes of OlItemType 0 to 7, as Items.Add gives them.
const char* const ItemTypeClasses[] = {"IPM.Note", "IPM.Appointment", "IPM.Contact",
                                       "IPM.Task", "IPM.Activity",    "IPM.StickyNote",
                                       "IPM.Post", "IPM.DistList"};

const long olSave = 0, olDiscard = 1, olPromptForSave = 2;

} // namespace

const char* ItemTypeClass(long type) {
    return type >= 0 && type < long(sizeof ItemTypeClasses / sizeof ItemTypeClasses[0])
               ? ItemTypeClasses[type]
               : nullptr;
}

Object* NewObject(Kind kind, int handle, const std::string& name) {
    return new Object(kind, handle, name);
}

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

HRESULT Object::Perform(const Member& member, VARIANT* arguments, VARIANT* result) {
    VARIANT* argument = arguments[0].vt == VT_EMPTY ? nullptr : &arguments[0];
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
        } else if (what == "PropertyAccessor") {
            Object* accessor =
                NewObject(Kind::PropertyAccessor, handle, name + ".PropertyAccessor");
            accessor->store = store;
            ReturnObject(result, accessor);
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
                const char* typeClass = ItemTypeClass(argument->lVal);
                if (typeClass == nullptr)
                    return E_INVALIDARG;
                messageClass = typeClass;
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
    case Kind::PropertyAccessor:
        return PerformAccessor(member, arguments, result);
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

} // namespace standin
