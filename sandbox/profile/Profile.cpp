// The shared mail profile of a sandbox process (see Profile.h).
#define SANDBOX_PROFILE_BUILD
#include "sandbox/profile/Profile.h"

#include "sandbox/common/Record.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace sandbox {
namespace {

struct Store {
    std::string name;
    Bytes id;
    std::vector<int> folders;
};

struct Folder {
    int store = 0;
    int parent = 0;
    std::string name;
    Bytes id;
    int type = 0;
    bool accessible = true;
    bool opensAsMessage = false;
    std::map<unsigned long, std::string> props;
    std::map<bool, std::string> outlookIds; // false: EntryID, true: StoreID
    std::vector<int> children;
    std::vector<int> items;
};

struct Item {
    int folder = 0;
    std::string messageClass;
    std::string subject;
    int saved = 0;
};

struct Fault {
    std::string object;
    std::string member;
    int count; // 0: every call
    long result;
};

const long DefaultFailure = long(0x80004005);

std::recursive_mutex lock;
bool loaded;
std::vector<Store> stores;
std::vector<Folder> folders;
std::vector<Item> items;
std::vector<Fault> faults;
std::map<std::pair<std::string, std::string>, int> calls;
// SANDBOX_FAIL_CALL: the stand-in whose call is failed, the call's number and its HRESULT.
std::string failStandin;
int failCall;
long failResult = DefaultFailure;
std::map<std::string, int> standinCalls;

Store* StoreAt(int handle) {
    return handle > 0 && size_t(handle) <= stores.size() ? &stores[handle - 1] : nullptr;
}
Folder* FolderAt(int handle) {
    return handle > 0 && size_t(handle) <= folders.size() ? &folders[handle - 1] : nullptr;
}
Item* ItemAt(int handle) {
    return handle > 0 && size_t(handle) <= items.size() ? &items[handle - 1] : nullptr;
}

// Made-up ids: a kind marker and the handle, so that they are unique and stable per run.
Bytes MadeUpId(unsigned char kind, int handle) {
    return Bytes{
        0x00, 0x00, 0x00, 0x00, kind, 0x00, (unsigned char)(handle >> 8), (unsigned char)handle};
}

bool ParseHex(const std::string& text, Bytes* bytes) {
    if (text.size() % 2 != 0)
        return false;
    Bytes result;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end;
        unsigned long value = strtoul(pair, &end, 16);
        if (*end != '\0')
            return false;
        result.push_back((unsigned char)value);
    }
    *bytes = result;
    return true;
}

// Blank-separated tokens; double quotes group blanks ("a b" or key="a b"); inside quotes a
// backslash escapes the next character.
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        std::string token;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            char c = line[i];
            if (quoted && c == '\\' && i + 1 < line.size())
                token += line[++i];
            else if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c == ' ' || c == '\t'))
                break;
            else
                token += c;
        }
        tokens.push_back(token);
    }
    return tokens;
}

std::string Quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

void Complain(int lineNumber, const char* what, const std::string& token) {
    AppendRecord("profile", "profile line %d: %s %s", lineNumber, what, token.c_str());
}

int NewFolder(int store, int parent, const std::string& name) {
    Folder folder;
    folder.store = store;
    folder.parent = parent;
    folder.name = name;
    folders.push_back(folder);
    int handle = int(folders.size());
    folders.back().id = MadeUpId(0x46, handle);
    if (parent != 0)
        folders[parent - 1].children.push_back(handle);
    else
        stores[store - 1].folders.push_back(handle);
    return handle;
}

void ParseFolderAttributes(int handle, const std::vector<std::string>& tokens, int lineNumber) {
    for (size_t i = 2; i < tokens.size(); ++i) {
        size_t equals = tokens[i].find('=');
        std::string key = tokens[i].substr(0, equals);
        std::string value = equals == std::string::npos ? "" : tokens[i].substr(equals + 1);
        Folder& folder = folders[handle - 1];
        if (key == "type")
            folder.type = atoi(value.c_str());
        else if (key == "id" && ParseHex(value, &folder.id))
            continue;
        else if (key == "access")
            folder.accessible = value != "no";
        else if (key == "opens")
            folder.opensAsMessage = value == "message";
        else if (key == "outlookentryid")
            folder.outlookIds[false] = value;
        else if (key == "outlookstoreid")
            folder.outlookIds[true] = value;
        else if (key == "msgclass")
            folder.props[TagDefPostMsgClass] = value;
        else if (key == "displayname")
            folder.props[TagDefPostDisplayName] = value;
        else
            Complain(lineNumber, "bad folder attribute", tokens[i]);
    }
}

void ParseProfile(const std::string& text) {
    // Open containers by indentation: (indent, folder handle or 0 for the store itself).
    std::vector<std::pair<int, int>> open;
    int store = 0;
    int lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        int indent = 0;
        while (size_t(indent) < line.size() && (line[indent] == ' ' || line[indent] == '\t'))
            ++indent;
        std::vector<std::string> tokens = Tokens(line);
        if (tokens.empty())
            continue;
        while (!open.empty() && open.back().first >= indent)
            open.pop_back();
        const std::string& keyword = tokens[0];
        if (keyword == "store" && tokens.size() >= 2) {
            stores.push_back(Store{tokens[1], MadeUpId(0x53, int(stores.size() + 1)), {}});
            store = int(stores.size());
            for (size_t i = 2; i < tokens.size(); ++i)
                if (tokens[i].compare(0, 3, "id=") != 0 ||
                    !ParseHex(tokens[i].substr(3), &stores.back().id))
                    Complain(lineNumber, "bad store attribute", tokens[i]);
            open.assign(1, {indent, 0});
        } else if (keyword == "folder" && tokens.size() >= 2 && store != 0 && !open.empty()) {
            int folder = NewFolder(store, open.back().second, tokens[1]);
            ParseFolderAttributes(folder, tokens, lineNumber);
            open.push_back({indent, folder});
        } else if (keyword == "item" && tokens.size() >= 2 && !open.empty() &&
                   open.back().second != 0) {
            Item item;
            item.folder = open.back().second;
            item.messageClass = tokens[1];
            for (size_t i = 2; i < tokens.size(); ++i) {
                if (tokens[i].compare(0, 6, "saved=") == 0)
                    item.saved = atoi(tokens[i].c_str() + 6);
                else if (tokens[i].compare(0, 8, "subject=") == 0)
                    item.subject = tokens[i].substr(8);
                else
                    Complain(lineNumber, "bad item attribute", tokens[i]);
            }
            items.push_back(item);
            folders[item.folder - 1].items.push_back(int(items.size()));
        } else if (keyword == "fail" && tokens.size() >= 4) {
            Fault fault{tokens[1], tokens[2], tokens[3] == "*" ? 0 : atoi(tokens[3].c_str()),
                        DefaultFailure};
            if (tokens.size() >= 5)
                fault.result = long(strtoul(tokens[4].c_str(), nullptr, 0));
            faults.push_back(fault);
        } else {
            Complain(lineNumber, "not understood:", line);
        }
    }
}

std::string ReadFileText(const char* path) {
    std::string text;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD got;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

void EnsureLoaded() {
    if (loaded)
        return;
    loaded = true;
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("SANDBOX_PROFILE", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        lstrcpyA(path, "C:\\sandbox\\profile.txt");
    ParseProfile(ReadFileText(path));
    char failing[100];
    length = GetEnvironmentVariableA("SANDBOX_FAIL_CALL", failing, sizeof failing);
    if (length > 0 && length < sizeof failing) {
        std::vector<std::string> parts;
        for (char* part = strtok(failing, ":"); part != nullptr; part = strtok(nullptr, ":"))
            parts.push_back(part);
        if (parts.size() >= 2) {
            failStandin = parts[0];
            failCall = atoi(parts[1].c_str());
        }
        if (parts.size() >= 3)
            failResult = long(strtoul(parts[2].c_str(), nullptr, 0));
    }
    AppendRecord("profile", "load path=%s stores=%u folders=%u items=%u faults=%u", path,
                 unsigned(stores.size()), unsigned(folders.size()), unsigned(items.size()),
                 unsigned(faults.size()));
}

void WriteFolder(std::string& out, int handle, int depth) {
    const Folder& folder = folders[handle - 1];
    out += std::string(2 * depth, ' ') + "folder " + Quoted(folder.name) +
           " type=" + std::to_string(folder.type) +
           " id=" + HexText(folder.id.data(), folder.id.size());
    if (!folder.accessible)
        out += " access=no";
    if (folder.opensAsMessage)
        out += " opens=message";
    for (const auto& id : folder.outlookIds)
        out += (id.first ? " outlookstoreid=" : " outlookentryid=") + Quoted(id.second);
    auto msgClass = folder.props.find(TagDefPostMsgClass);
    if (msgClass != folder.props.end())
        out += " msgclass=" + Quoted(msgClass->second);
    auto displayName = folder.props.find(TagDefPostDisplayName);
    if (displayName != folder.props.end())
        out += " displayname=" + Quoted(displayName->second);
    out += "\r\n";
    for (int item : folder.items) {
        const Item& entry = items[item - 1];
        out += std::string(2 * depth + 2, ' ') + "item " + Quoted(entry.messageClass) +
               " saved=" + std::to_string(entry.saved);
        if (!entry.subject.empty())
            out += " subject=" + Quoted(entry.subject);
        out += "\r\n";
    }
    for (int child : folder.children)
        WriteFolder(out, child, depth + 1);
}

} // namespace

#define LOCKED                                                                                     \
    std::lock_guard<std::recursive_mutex> guard(lock);                                             \
    EnsureLoaded()

std::vector<int> Stores() {
    LOCKED;
    std::vector<int> handles;
    for (size_t i = 0; i < stores.size(); ++i)
        handles.push_back(int(i + 1));
    return handles;
}

int FindStore(const unsigned char* id, unsigned long size) {
    LOCKED;
    for (size_t i = 0; i < stores.size(); ++i)
        if (stores[i].id.size() == size &&
            (size == 0 || memcmp(stores[i].id.data(), id, size) == 0))
            return int(i + 1);
    return 0;
}

std::string StoreName(int store) {
    LOCKED;
    Store* entry = StoreAt(store);
    return entry ? entry->name : std::string();
}

Bytes StoreId(int store) {
    LOCKED;
    Store* entry = StoreAt(store);
    return entry ? entry->id : Bytes();
}

std::vector<int> StoreFolders(int store) {
    LOCKED;
    Store* entry = StoreAt(store);
    return entry ? entry->folders : std::vector<int>();
}

int FindFolder(int store, const unsigned char* id, unsigned long size) {
    LOCKED;
    for (size_t i = 0; i < folders.size(); ++i)
        if ((store == 0 || folders[i].store == store) && folders[i].id.size() == size &&
            (size == 0 || memcmp(folders[i].id.data(), id, size) == 0))
            return int(i + 1);
    return 0;
}

std::vector<int> FolderChildren(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->children : std::vector<int>();
}

int FolderParent(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->parent : 0;
}

int FolderStore(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->store : 0;
}

std::string FolderName(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->name : std::string();
}

std::string FolderPath(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    if (entry == nullptr)
        return std::string();
    std::string path = entry->name;
    for (int parent = entry->parent; parent != 0; parent = folders[parent - 1].parent)
        path = folders[parent - 1].name + "/" + path;
    return stores[entry->store - 1].name + "/" + path;
}

Bytes FolderEntryId(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->id : Bytes();
}

int FolderItemType(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->type : 0;
}

bool FolderAccessible(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry && entry->accessible;
}

bool FolderOutlookId(int folder, bool store, std::string* text) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    if (entry == nullptr || entry->outlookIds.count(store) == 0)
        return false;
    *text = entry->outlookIds[store];
    return true;
}

bool FolderOpensAsMessage(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry && entry->opensAsMessage;
}

bool GetFolderProp(int folder, unsigned long tag, std::string* value) {
    LOCKED;
    Folder* entry = FolderAt(folder);
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
    LOCKED;
    if (Folder* entry = FolderAt(folder))
        entry->props[tag] = value;
}

void RemoveFolderProp(int folder, unsigned long tag) {
    LOCKED;
    if (Folder* entry = FolderAt(folder))
        entry->props.erase(tag);
}

std::string NewItemClass(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    if (entry == nullptr)
        return std::string();
    auto found = entry->props.find(TagDefPostMsgClass);
    if (found != entry->props.end())
        return found->second;
    static const char* const standard[] = {"IPM.Note",    "IPM.Appointment", "IPM.Contact",
                                           "IPM.Task",    "IPM.Journal",     "IPM.StickyNote",
                                           "IPM.DistList"};
    return entry->type >= 0 && entry->type < 7 ? standard[entry->type] : "IPM.Note";
}

std::vector<int> FolderItems(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? entry->items : std::vector<int>();
}

int FolderItemCount(int folder) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry ? int(entry->items.size()) : 0;
}

int FolderItemAt(int folder, long index) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    return entry && index >= 1 && size_t(index) <= entry->items.size()
               ? entry->items[size_t(index) - 1]
               : 0;
}

int AddItem(int folder, const std::string& messageClass) {
    LOCKED;
    Folder* entry = FolderAt(folder);
    if (entry == nullptr)
        return 0;
    Item item;
    item.folder = folder;
    item.messageClass = messageClass;
    items.push_back(item);
    int handle = int(items.size());
    entry->items.push_back(handle);
    return handle;
}

void RemoveItem(int item) {
    LOCKED;
    Item* entry = ItemAt(item);
    if (entry == nullptr || entry->folder == 0)
        return;
    std::vector<int>& list = folders[entry->folder - 1].items;
    for (auto i = list.begin(); i != list.end(); ++i)
        if (*i == item) {
            list.erase(i);
            break;
        }
    entry->folder = 0;
}

int ItemFolder(int item) {
    LOCKED;
    Item* entry = ItemAt(item);
    return entry ? entry->folder : 0;
}

std::string ItemPath(int item) {
    LOCKED;
    Item* entry = ItemAt(item);
    if (entry == nullptr || entry->folder == 0)
        return std::string();
    const std::vector<int>& list = folders[entry->folder - 1].items;
    size_t index = 0;
    while (index < list.size() && list[index] != item)
        ++index;
    return FolderPath(entry->folder) + "#" + std::to_string(index + 1);
}

std::string ItemClass(int item) {
    LOCKED;
    Item* entry = ItemAt(item);
    return entry ? entry->messageClass : std::string();
}

void SetItemClass(int item, const std::string& messageClass) {
    LOCKED;
    if (Item* entry = ItemAt(item))
        entry->messageClass = messageClass;
}

std::string ItemSubject(int item) {
    LOCKED;
    Item* entry = ItemAt(item);
    return entry ? entry->subject : std::string();
}

int ItemSaveCount(int item) {
    LOCKED;
    Item* entry = ItemAt(item);
    return entry ? entry->saved : 0;
}

void ItemSaved(int item) {
    LOCKED;
    if (Item* entry = ItemAt(item))
        ++entry->saved;
}

bool ShouldFail(const std::string& object, const std::string& member, long* result) {
    LOCKED;
    if (BenchMode()) {
        // Counting every object's calls would grow with the profile; only named faults need it.
        bool named = false;
        for (const Fault& fault : faults)
            named = named || (fault.object == object && fault.member == member);
        if (!named)
            return false;
    }
    int call = ++calls[{object, member}];
    for (const Fault& fault : faults)
        if (fault.object == object && fault.member == member &&
            (fault.count == 0 || fault.count == call)) {
            if (result)
                *result = fault.result;
            return true;
        }
    return false;
}

bool ShouldFailCall(const char* standin, const std::string& object, const std::string& member,
                    long* result) {
    LOCKED;
    int call = ++standinCalls[standin];
    AppendRecord("calls", "%s %d \"%s\" %s", standin, call, object.c_str(), member.c_str());
    bool failing = ShouldFail(object, member, result);
    if (!failing && call == failCall && failStandin == standin) {
        if (result)
            *result = failResult;
        failing = true;
    }
    return failing;
}

int CallCount(const char* standin) {
    LOCKED;
    return standinCalls[standin];
}

void AddFault(const std::string& object, const std::string& member, int count, long result) {
    LOCKED;
    faults.push_back(Fault{object, member, count, result});
}

void Record(const char* log, const char* format, ...) {
    if (BenchMode())
        return;
    char line[2000];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    AppendRecord(log, "%s", line);
}

std::string HexText(const unsigned char* data, unsigned long size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned long i = 0; data != nullptr && i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

void FlushProfile() {
    LOCKED;
    std::string out = "# state after the run\r\n";
    for (size_t s = 0; s < stores.size(); ++s) {
        out += "store " + Quoted(stores[s].name) +
               " id=" + HexText(stores[s].id.data(), stores[s].id.size()) + "\r\n";
        for (int folder : stores[s].folders)
            WriteFolder(out, folder, 1);
    }
    for (const Fault& fault : faults) {
        char result[16];
        snprintf(result, sizeof result, "0x%08lX", (unsigned long)fault.result);
        out += "fail " + Quoted(fault.object) + " " + Quoted(fault.member) + " " +
               (fault.count == 0 ? std::string("*") : std::to_string(fault.count)) + " " + result +
               "\r\n";
    }
    CreateDirectoryA("C:\\sandbox", nullptr);
    CreateDirectoryA("C:\\sandbox\\log", nullptr);
    HANDLE file = CreateFileA("C:\\sandbox\\log\\profile.out", GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, out.data(), DWORD(out.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace sandbox

extern "C" void SandboxFlushProfile() {
    sandbox::FlushProfile();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) {
        sandbox::FlushProfile();
        AppendRecord("profile", "detach");
    }
    return TRUE;
}
