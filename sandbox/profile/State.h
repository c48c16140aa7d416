#pragma once
// Inside SandboxProfile.dll: the profile as this process holds it, and the region that makes
// it one state with every other process that serves the same profile.
//
// The region is a named section, made by the first process that loads the profile and joined
// by the others (State.cpp):
//   - the profile text as its maker read it, which every process parses into the same model
//     (the same handles for the same stores, folders and items);
//   - one slot per item with its class and saved count, read and written in place, so that a
//     conversion of 100,000 items adds nothing to the region;
//   - a journal of every other change, appended by any process and applied by each in
//     journal order before it answers a call: strings (each has its id by its place in the
//     journal), items added and removed, folder properties set and removed, faults added and
//     calls counted;
//   - the stand-ins' call counters and the maker's SANDBOX_FAIL_CALL.
// A journal entry is written whole before its size is stored, and readers stop at an entry
// whose size is still 0, so appending needs no lock across processes.
#include "sandbox/profile/Profile.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sandbox {
namespace state {

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

// An item's class and saved count live in its slot of the region.
struct Item {
    int folder = 0;
    std::string subject;
};

struct Fault {
    std::string object;
    std::string member;
    int count; // 0: every call
    FaultKind kind;
    long result;
};

// A busy window of the process that serves the stand-in's calls.
struct Busy {
    std::string standin;
    int call;
    DWORD milliseconds;
    bool retryLater;
    bool started = false;
    DWORD until = 0;
};

struct Model {
    std::vector<Store> stores;
    std::vector<Folder> folders;
    std::vector<Item> items;
    std::vector<Fault> faults;
    std::vector<Busy> busy;
    std::map<std::pair<std::string, std::string>, int> calls;
};

// What the profile text gives beyond the model: each item's class and saved count, in handle
// order, for the slots of a new region.
struct ItemStart {
    std::string messageClass;
    int saved = 0;
};

const long DefaultFailure = long(0x80004005);

// This process's model; used only under Lock() after Sync().
extern Model model;

// The lock of this process.
std::recursive_mutex& Lock();
// Joins or makes the region on first use, then applies what other processes have journalled.
void Sync();
// Writes nothing more to the region and lets go of it (the DLL is unloading).
void Leave();

// Item slots. Each is null for a handle the region has no slot for.
volatile LONG* ItemClassSlot(int item);
volatile LONG* ItemSavedSlot(int item);
// A handle for a new item, its slot set to the class with saved count 0; 0 when full.
int NewItemSlot(LONG messageClass);

// Strings: the id of a text (journalled on first use; 0 when the journal is full) and the text
// of an id ("" for 0).
LONG Intern(const std::string& text);
std::string Text(LONG id);

// Journalled changes; each is applied to this process's model before the call returns. A call
// entry returns the call's number for its object and member (0 when it could not be counted).
void JournalAddItem(int folder, int item);
void JournalRemoveItem(int item);
void JournalSetProp(int folder, unsigned long tag, LONG value);
void JournalRemoveProp(int folder, unsigned long tag);
int JournalCall(LONG object, LONG member);
void JournalAddFault(LONG object, LONG member, int count, long result);

// The stand-in's call counter: adds one and returns the new count, or reads it.
int CountStandinCall(const char* standin);
int StandinCalls(const char* standin);
// SANDBOX_FAIL_CALL as the region's maker had it.
bool FailCallSetting(std::string* standin, int* call, long* result);
// The path the profile text was read from, for the records.
std::string ProfilePath();

// The profile text format (Text.cpp).
void ParseProfile(const std::string& text, Model* model, std::vector<ItemStart>* starts);
std::string Quoted(const std::string& text);
const char* FaultKindName(FaultKind kind); // the answer word, or null for Fail and Close

} // namespace state
} // namespace sandbox

// Every entry point of the DLL begins with this.
#define PROFILE_LOCKED                                                                             \
    std::lock_guard<std::recursive_mutex> guard(sandbox::state::Lock());                           \
    sandbox::state::Sync()
