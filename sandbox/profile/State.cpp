// The region that makes the profile one state across processes (State.h).
#include "sandbox/profile/State.h"

#include "sandbox/common/Record.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace sandbox {
namespace state {

Model model;

namespace {

const char SectionName[] = "SandboxProfileState";
const char MakingMutexName[] = "SandboxProfileMaking";
const LONG Magic = 0x53505850; // "PXPS"
// Room for items added while the state lives (an unsaved item takes none).
const LONG SpareItems = 65536;
// The journal holds strings, added items, properties, added faults and counted calls: a run
// of the sandbox journals a few hundred entries of 28 bytes and more, never 16 MB.
const LONG JournalCapacity = 16 << 20;
const int StandinCounters = 8;
const DWORD WaitLimitMs = 10000;

struct StandinCounter {
    char name[16];
    volatile LONG calls;
};

struct Header {
    volatile LONG magic; // set last by the region's maker
    LONG textOffset;
    LONG textSize;
    LONG slotOffset;
    LONG slotCapacity;
    volatile LONG itemCount; // handles given out, base items included
    LONG journalOffset;
    volatile LONG journalReserved; // bytes claimed by writers
    volatile LONG journalEnd;      // where a refused entry would have begun, else the capacity
    char failStandin[16];
    LONG failCall;
    LONG failResult;
    char profilePath[MAX_PATH];
    StandinCounter standins[StandinCounters];
};

struct Slot {
    volatile LONG messageClass; // a string id
    volatile LONG saved;
};

enum EntryKind : LONG { String = 1, AddItem, RemoveItem, SetProp, RemoveProp, Call, AddFault };

struct Entry {
    volatile LONG size; // stored last: 0 while the entry is still being written
    LONG kind;
    LONG field[4];
    char text[4]; // a string's text, NUL-terminated
};

const LONG EntryHead = LONG(offsetof(Entry, text));

std::recursive_mutex processLock;
bool joined = false;
HANDLE section = nullptr;
char* region = nullptr;
bool regionIsLocal = false; // the section could not be made: this process alone
Header* header = nullptr;
Slot* slots = nullptr;
char* journal = nullptr;
LONG applied = 0; // journal bytes applied to this process's model
std::unordered_map<std::string, LONG> ids;
std::map<std::string, int> standinIndex;
bool complainedFull = false;

LONG Align(LONG size, LONG to) {
    return (size + to - 1) / to * to;
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

// SANDBOX_FAIL_CALL=STANDIN:K[:HRESULT] into the header.
void ReadFailCall() {
    header->failResult = DefaultFailure;
    char failing[100];
    DWORD length = GetEnvironmentVariableA("SANDBOX_FAIL_CALL", failing, sizeof failing);
    if (length == 0 || length >= sizeof failing)
        return;
    std::vector<std::string> parts;
    for (char* part = strtok(failing, ":"); part != nullptr; part = strtok(nullptr, ":"))
        parts.push_back(part);
    if (parts.size() >= 2) {
        lstrcpynA(header->failStandin, parts[0].c_str(), sizeof header->failStandin);
        header->failCall = atoi(parts[1].c_str());
    }
    if (parts.size() >= 3)
        header->failResult = long(strtoul(parts[2].c_str(), nullptr, 0));
}

void Locate() {
    header = reinterpret_cast<Header*>(region);
    slots = reinterpret_cast<Slot*>(region + header->slotOffset);
    journal = region + header->journalOffset;
}

LONG JournalLimit() {
    LONG reserved = header->journalReserved, end = header->journalEnd;
    return reserved < end ? reserved : end;
}

Entry* EntryAt(LONG offset) {
    return reinterpret_cast<Entry*>(journal + offset);
}

const char* TextOf(LONG id) {
    if (id <= 0 || id > JournalLimit())
        return nullptr;
    Entry* entry = EntryAt(id - 1);
    return entry->kind == String ? entry->text : nullptr;
}

void Apply(LONG offset, const Entry& entry, int* callNumber) {
    const LONG* f = entry.field;
    switch (entry.kind) {
    case String:
        ids.emplace(entry.text, offset + 1); // the first id of a text is everybody's
        break;
    case AddItem:
        if (f[0] > 0 && size_t(f[0]) <= model.folders.size() && f[1] > 0) {
            if (model.items.size() < size_t(f[1]))
                model.items.resize(size_t(f[1]));
            model.items[f[1] - 1].folder = f[0];
            model.folders[f[0] - 1].items.push_back(f[1]);
        }
        break;
    case RemoveItem:
        if (f[0] > 0 && size_t(f[0]) <= model.items.size()) {
            Item& item = model.items[f[0] - 1];
            if (item.folder != 0) {
                std::vector<int>& list = model.folders[item.folder - 1].items;
                for (auto i = list.begin(); i != list.end(); ++i)
                    if (*i == f[0]) {
                        list.erase(i);
                        break;
                    }
                item.folder = 0;
            }
        }
        break;
    case SetProp:
        if (f[0] > 0 && size_t(f[0]) <= model.folders.size())
            model.folders[f[0] - 1].props[(unsigned long)f[1]] = Text(f[2]);
        break;
    case RemoveProp:
        if (f[0] > 0 && size_t(f[0]) <= model.folders.size())
            model.folders[f[0] - 1].props.erase((unsigned long)f[1]);
        break;
    case Call: {
        int number = ++model.calls[{Text(f[0]), Text(f[1])}];
        if (callNumber)
            *callNumber = number;
        break;
    }
    case AddFault:
        model.faults.push_back(Fault{Text(f[0]), Text(f[1]), int(f[2]), FaultKind::Fail, f[3]});
        break;
    }
}

// Applies every entry written so far; the entry at through, if given, reports its call number.
void CatchUp(LONG through = -1, int* callNumber = nullptr) {
    for (;;) {
        if (applied >= JournalLimit())
            return;
        Entry* entry = EntryAt(applied);
        LONG size = entry->size;
        // Another process is writing this entry at this moment; it stores the size last.
        DWORD start = GetTickCount();
        while (size == 0 && applied < JournalLimit() && GetTickCount() - start < WaitLimitMs) {
            Sleep(0);
            size = entry->size;
        }
        if (size == 0) {
            if (applied < JournalLimit())
                AppendRecord("profile", "journal entry at %ld never completed", applied);
            return;
        }
        Apply(applied, *entry, applied == through ? callNumber : nullptr);
        applied += size;
    }
}

// Writes one entry and returns its offset; -1 when the journal is full.
LONG Append(LONG kind, std::initializer_list<LONG> fields, const std::string& text = "") {
    LONG size = Align(EntryHead + (kind == String ? LONG(text.size()) + 1 : 0), 4);
    LONG at = InterlockedExchangeAdd(&header->journalReserved, size);
    LONG capacity = JournalCapacity;
    if (at < 0 || at > capacity - size) {
        // Readers stop where this entry would have begun.
        LONG end = header->journalEnd;
        while (at < end && InterlockedCompareExchange(&header->journalEnd, at, end) != end)
            end = header->journalEnd;
        if (!complainedFull)
            AppendRecord("profile", "journal full: changes are no longer shared");
        complainedFull = true;
        return -1;
    }
    Entry* entry = EntryAt(at);
    entry->kind = kind;
    int n = 0;
    for (LONG field : fields)
        entry->field[n++] = field;
    if (kind == String)
        memcpy(entry->text, text.c_str(), text.size() + 1);
    InterlockedExchange(&entry->size, size);
    return at;
}

// Makes the region from the profile text; this process's model is parsed on the way.
void Make() {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("SANDBOX_PROFILE", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        lstrcpyA(path, "C:\\sandbox\\profile.txt");
    std::string text = ReadFileText(path);
    std::vector<ItemStart> starts;
    ParseProfile(text, &model, &starts);

    LONG headerSize = Align(LONG(sizeof(Header)), 4096);
    LONG textSize = Align(LONG(text.size()) + 1, 8);
    LONG slotCapacity = LONG(starts.size()) + SpareItems;
    LONG size = headerSize + textSize + slotCapacity * LONG(sizeof(Slot)) + JournalCapacity;
    section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(size),
                                 SectionName);
    if (section != nullptr)
        region = static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (region == nullptr) {
        AppendRecord("profile", "no shared state (error %lu): this process alone", GetLastError());
        region = static_cast<char*>(
            VirtualAlloc(nullptr, SIZE_T(size), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        regionIsLocal = true;
    }
    header = reinterpret_cast<Header*>(region);
    header->textOffset = headerSize;
    header->textSize = LONG(text.size());
    header->slotOffset = headerSize + textSize;
    header->slotCapacity = slotCapacity;
    header->journalOffset = header->slotOffset + slotCapacity * LONG(sizeof(Slot));
    header->journalEnd = JournalCapacity;
    lstrcpynA(header->profilePath, path, sizeof header->profilePath);
    ReadFailCall();
    memcpy(region + headerSize, text.data(), text.size());
    Locate();
    for (size_t i = 0; i < starts.size(); ++i) {
        slots[i].messageClass = Intern(starts[i].messageClass);
        slots[i].saved = starts[i].saved;
    }
    header->itemCount = LONG(starts.size());
    InterlockedExchange(&header->magic, Magic);
    AppendRecord("profile", "load path=%s stores=%u folders=%u items=%u faults=%u", path,
                 unsigned(model.stores.size()), unsigned(model.folders.size()),
                 unsigned(model.items.size()), unsigned(model.faults.size() + model.busy.size()));
}

// Joins the region another process made: the same text, parsed the same way.
bool Join() {
    section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, SectionName);
    if (section == nullptr)
        return false;
    region = static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (region == nullptr || reinterpret_cast<Header*>(region)->magic != Magic) {
        if (region != nullptr)
            UnmapViewOfFile(region);
        CloseHandle(section);
        section = nullptr;
        region = nullptr;
        return false;
    }
    Locate();
    std::vector<ItemStart> ignored; // the slots hold the items' state
    ParseProfile(std::string(region + header->textOffset, size_t(header->textSize)), &model,
                 &ignored);
    CatchUp();
    AppendRecord("profile", "join path=%s items=%ld journal=%ld", header->profilePath,
                 header->itemCount, JournalLimit());
    return true;
}

// A named mutex held while a process makes or joins the region, or claims a counter.
class MakingLock {
  public:
    MakingLock() {
        mutex = CreateMutexA(nullptr, FALSE, MakingMutexName);
        if (mutex != nullptr)
            WaitForSingleObject(mutex, WaitLimitMs); // an abandoned one is ours as well
    }
    MakingLock(const MakingLock&) = delete;
    MakingLock& operator=(const MakingLock&) = delete;
    ~MakingLock() {
        if (mutex != nullptr) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
    }

  private:
    HANDLE mutex;
};

int StandinIndex(const char* standin) {
    auto known = standinIndex.find(standin);
    if (known != standinIndex.end())
        return known->second;
    MakingLock making;
    for (int i = 0; i < StandinCounters; ++i) {
        StandinCounter& counter = header->standins[i];
        if (counter.name[0] == '\0')
            lstrcpynA(counter.name, standin, sizeof counter.name);
        if (strncmp(counter.name, standin, sizeof counter.name - 1) == 0)
            return standinIndex[standin] = i;
    }
    return -1;
}

} // namespace

std::recursive_mutex& Lock() {
    return processLock;
}

void Sync() {
    if (!joined) {
        joined = true;
        MakingLock making;
        if (!Join())
            Make();
    }
    CatchUp();
}

void Leave() {
    if (region == nullptr)
        return;
    if (regionIsLocal)
        VirtualFree(region, 0, MEM_RELEASE);
    else
        UnmapViewOfFile(region);
    if (section != nullptr)
        CloseHandle(section);
    region = nullptr;
    section = nullptr;
}

volatile LONG* ItemClassSlot(int item) {
    LONG count = header->itemCount;
    return item > 0 && item <= count && item <= header->slotCapacity ? &slots[item - 1].messageClass
                                                                     : nullptr;
}

volatile LONG* ItemSavedSlot(int item) {
    LONG count = header->itemCount;
    return item > 0 && item <= count && item <= header->slotCapacity ? &slots[item - 1].saved
                                                                     : nullptr;
}

int NewItemSlot(LONG messageClass) {
    LONG handle = InterlockedIncrement(&header->itemCount);
    if (handle > header->slotCapacity) {
        AppendRecord("profile", "no slot for a new item");
        return 0;
    }
    slots[handle - 1].messageClass = messageClass;
    slots[handle - 1].saved = 0;
    return int(handle);
}

LONG Intern(const std::string& text) {
    auto known = ids.find(text);
    if (known != ids.end())
        return known->second;
    if (Append(String, {}, text) < 0)
        return 0;
    CatchUp();
    known = ids.find(text);
    return known != ids.end() ? known->second : 0;
}

std::string Text(LONG id) {
    const char* text = TextOf(id);
    return text ? text : "";
}

void JournalAddItem(int folder, int item) {
    Append(AddItem, {folder, item});
    CatchUp();
}

void JournalRemoveItem(int item) {
    Append(RemoveItem, {item});
    CatchUp();
}

void JournalSetProp(int folder, unsigned long tag, LONG value) {
    Append(SetProp, {folder, LONG(tag), value});
    CatchUp();
}

void JournalRemoveProp(int folder, unsigned long tag) {
    Append(RemoveProp, {folder, LONG(tag)});
    CatchUp();
}

int JournalCall(LONG object, LONG member) {
    LONG at = Append(Call, {object, member});
    int number = 0;
    CatchUp(at, &number);
    return number;
}

void JournalAddFault(LONG object, LONG member, int count, long result) {
    Append(AddFault, {object, member, count, result});
    CatchUp();
}

int CountStandinCall(const char* standin) {
    int index = StandinIndex(standin);
    return index < 0 ? 0 : int(InterlockedIncrement(&header->standins[index].calls));
}

int StandinCalls(const char* standin) {
    int index = StandinIndex(standin);
    return index < 0 ? 0 : int(header->standins[index].calls);
}

bool FailCallSetting(std::string* standin, int* call, long* result) {
    if (header->failStandin[0] == '\0')
        return false;
    *standin = header->failStandin;
    *call = int(header->failCall);
    *result = header->failResult;
    return true;
}

std::string ProfilePath() {
    return header ? header->profilePath : "";
}

} // namespace state
} // namespace sandbox
