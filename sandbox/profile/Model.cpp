// The profile's stores, folders and items (Profile.h), over this process's model and the
// shared item slots (State.h).
#include "sandbox/profile/State.h"

#include <cstring>

namespace sandbox {

using state::model;

namespace {

state::Store* StoreAt(int handle) {
    return handle > 0 && size_t(handle) <= model.stores.size() ? &model.stores[handle - 1]
                                                               : nullptr;
}
state::Folder* FolderAt(int handle) {
    return handle > 0 && size_t(handle) <= model.folders.size() ? &model.folders[handle - 1]
                                                                : nullptr;
}
state::Item* ItemAt(int handle) {
    return handle > 0 && size_t(handle) <= model.items.size() ? &model.items[handle - 1] : nullptr;
}

} // namespace

std::vector<int> Stores() {
    PROFILE_LOCKED;
    std::vector<int> handles;
    for (size_t i = 0; i < model.stores.size(); ++i)
        handles.push_back(int(i + 1));
    return handles;
}

int FindStore(const unsigned char* id, unsigned long size) {
    PROFILE_LOCKED;
    for (size_t i = 0; i < model.stores.size(); ++i)
        if (model.stores[i].id.size() == size &&
            (size == 0 || memcmp(model.stores[i].id.data(), id, size) == 0))
            return int(i + 1);
    return 0;
}

std::string StoreName(int store) {
    PROFILE_LOCKED;
    state::Store* entry = StoreAt(store);
    return entry ? entry->name : std::string();
}

Bytes StoreId(int store) {
    PROFILE_LOCKED;
    state::Store* entry = StoreAt(store);
    return entry ? entry->id : Bytes();
}

std::vector<int> StoreFolders(int store) {
    PROFILE_LOCKED;
    state::Store* entry = StoreAt(store);
    return entry ? entry->folders : std::vector<int>();
}

int FindFolder(int store, const unsigned char* id, unsigned long size) {
    PROFILE_LOCKED;
    for (size_t i = 0; i < model.folders.size(); ++i) {
        const state::Folder& folder = model.folders[i];
        if ((store == 0 || folder.store == store) && folder.id.size() == size &&
            (size == 0 || memcmp(folder.id.data(), id, size) == 0))
            return int(i + 1);
    }
    return 0;
}

std::vector<int> FolderChildren(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->children : std::vector<int>();
}

int FolderParent(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->parent : 0;
}

int FolderStore(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->store : 0;
}

std::string FolderName(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->name : std::string();
}

std::string FolderPath(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    if (entry == nullptr)
        return std::string();
    std::string path = entry->name;
    for (int parent = entry->parent; parent != 0; parent = model.folders[parent - 1].parent)
        path = model.folders[parent - 1].name + "/" + path;
    return model.stores[entry->store - 1].name + "/" + path;
}

Bytes FolderEntryId(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->id : Bytes();
}

int FolderItemType(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->type : 0;
}

bool FolderAccessible(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry && entry->accessible;
}

bool FolderOutlookId(int folder, bool store, std::string* text) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    if (entry == nullptr || entry->outlookIds.count(store) == 0)
        return false;
    *text = entry->outlookIds[store];
    return true;
}

bool FolderOpensAsMessage(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry && entry->opensAsMessage;
}

bool GetFolderProp(int folder, unsigned long tag, std::string* value) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    if (entry == nullptr)
        return false;
    auto found = entry->props.find(tag);
    if (found == entry->props.end())
        return false;
    if (value)
        *value = found->second;
    return true;
}

void SetFolderProp(int folder, unsigned long tag, const std::string& value) {
    PROFILE_LOCKED;
    if (FolderAt(folder) != nullptr)
        state::JournalSetProp(folder, tag, state::Intern(value));
}

void RemoveFolderProp(int folder, unsigned long tag) {
    PROFILE_LOCKED;
    if (FolderAt(folder) != nullptr)
        state::JournalRemoveProp(folder, tag);
}

std::string NewItemClass(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    if (entry == nullptr)
        return std::string();
    auto found = entry->props.find(TagDefPostMsgClass);
    if (found != entry->props.end())
        return found->second;
    // The classes of the item types (OlItemType 0 to 7).
    static const char* const standard[] = {"IPM.Note", "IPM.Appointment", "IPM.Contact",
                                           "IPM.Task", "IPM.Activity",    "IPM.StickyNote",
                                           "IPM.Post", "IPM.DistList"};
    return entry->type >= 0 && entry->type < 8 ? standard[entry->type] : "IPM.Note";
}

std::vector<int> FolderItems(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? entry->items : std::vector<int>();
}

int FolderItemCount(int folder) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry ? int(entry->items.size()) : 0;
}

int FolderItemAt(int folder, long index) {
    PROFILE_LOCKED;
    state::Folder* entry = FolderAt(folder);
    return entry && index >= 1 && size_t(index) <= entry->items.size()
               ? entry->items[size_t(index) - 1]
               : 0;
}

int AddItem(int folder, const std::string& messageClass) {
    PROFILE_LOCKED;
    if (FolderAt(folder) == nullptr)
        return 0;
    int handle = state::NewItemSlot(state::Intern(messageClass));
    if (handle != 0)
        state::JournalAddItem(folder, handle);
    return handle;
}

void RemoveItem(int item) {
    PROFILE_LOCKED;
    state::Item* entry = ItemAt(item);
    if (entry != nullptr && entry->folder != 0)
        state::JournalRemoveItem(item);
}

int ItemFolder(int item) {
    PROFILE_LOCKED;
    state::Item* entry = ItemAt(item);
    return entry ? entry->folder : 0;
}

std::string ItemPath(int item) {
    PROFILE_LOCKED;
    state::Item* entry = ItemAt(item);
    if (entry == nullptr || entry->folder == 0)
        return std::string();
    const std::vector<int>& list = model.folders[entry->folder - 1].items;
    size_t index = 0;
    while (index < list.size() && list[index] != item)
        ++index;
    return FolderPath(entry->folder) + "#" + std::to_string(index + 1);
}

std::string ItemClass(int item) {
    PROFILE_LOCKED;
    volatile LONG* slot = state::ItemClassSlot(item);
    return slot ? state::Text(*slot) : std::string();
}

void SetItemClass(int item, const std::string& messageClass) {
    PROFILE_LOCKED;
    if (volatile LONG* slot = state::ItemClassSlot(item))
        InterlockedExchange(slot, state::Intern(messageClass));
}

std::string ItemSubject(int item) {
    PROFILE_LOCKED;
    state::Item* entry = ItemAt(item);
    return entry ? entry->subject : std::string();
}

int ItemSaveCount(int item) {
    PROFILE_LOCKED;
    volatile LONG* slot = state::ItemSavedSlot(item);
    return slot ? int(*slot) : 0;
}

void ItemSaved(int item) {
    PROFILE_LOCKED;
    if (volatile LONG* slot = state::ItemSavedSlot(item))
        InterlockedIncrement(slot);
}

} // namespace sandbox
