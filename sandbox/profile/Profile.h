#pragma once
// The sandbox's mail profile: the stores, folders and items that the stand-in MAPI32.DLL and
// the stand-in Outlook automation server both serve, through SandboxProfile.dll.
//
// One state across processes: Outlook's stand-in may run as a local server of its own while
// MAPI32.DLL serves the same profile inside the uninstaller. Every process that loads this DLL
// joins one shared region (State.h): the profile text as the first of them read it, the items'
// classes and saved counts, and a journal of every other change (items added and removed,
// default-form properties, faults added, calls counted), which each process applies in the
// same order. The stand-ins' call numbers are counters in that region.
//
// Loaded on first use from the text file named by the environment variable SANDBOX_PROFILE,
// else C:\sandbox\profile.txt (a missing file is an empty profile); a process that joins an
// existing region takes its text from there. The state is written to
// C:\sandbox\log\profile.out when the DLL detaches and on FlushProfile(); whichever process
// writes last writes the whole shared state.
//
// Profile text: one entry a line, nesting by indentation (spaces), '#' starts a comment.
// Values with blanks are double-quoted; ids are hex bytes, made up when omitted.
//
//   store "Personal Folders" id=0A0B0C0D
//     folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
//       item "IPM.Task.Plendrax" saved=0
//       folder "Old tasks" type=3 access=no
//     folder "Inbox" type=0
//     folder "Not a folder" type=3 opens=message
//   fail session OpenMsgStore 1
//   fail "Personal Folders/Tasks" SaveChanges * 0x80004005
//   answer "Personal Folders/Tasks#1" MessageClass 1 null
//   close "Personal Folders/Tasks#2" Save 1
//   busy outlook 5 2000 retrylater
//
// folder attributes: type (default item type: 0 mail, 1 calendar, 2 contact, 3 task, ...),
// id, access=no (inaccessible), msgclass / displayname (the default-form properties
// PR_DEF_POST_MSGCLASS / PR_DEF_POST_DISPLAYNAME; absent when not given), opens=message
// (MAPI opens the entry id as a message), outlookentryid / outlookstoreid (the text that
// Outlook's EntryID / StoreID give for the folder instead of the ids' hex, e.g. "0A1" or
// "zz"). item attributes: the class, saved=N, subject="...".
//
// The fault table, each entry naming the K-th call (1-based) or every call (*) of MEMBER on
// OBJECT:
//   fail OBJECT MEMBER K|* [HRESULT]   the call fails with HRESULT (default 0x80004005)
//   answer OBJECT MEMBER K|* null|wrongtype|unknown
//                                      the call succeeds and answers a null string or object,
//                                      a value of another type, or the object as IUnknown
//   close OBJECT MEMBER K|*            the server closes during the call (Outlook's stand-in)
//   busy STANDIN K MS [retrylater]     from the stand-in's K-th call on, it rejects calls for
//                                      MS milliseconds (as RPC_E_CALL_REJECTED, or answering
//                                      RPC_E_SERVERCALL_RETRYLATER)
// Outlook's members are named as the object model names them ("Folders", "Save", "GetProperty",
// "MessageClass=" for the put); a folder's PropertyAccessor is the object "PATH.PropertyAccessor",
// and its member "SetProperties:0xHHHHHHHH" (the tag as the schema name gives it, upper case)
// fails setting that one property within a SetProperties call, the others being set.
//
// Object names for faults and records: a store's display name; a folder's path
// "Store/Folder/Sub" (FolderPath); an item "Store/Folder#N", N its 1-based index in the
// folder (ItemPath); free names such as "mapi32" or "session" for whatever has no entry.
//
// Handles are small positive integers that stay valid for the life of the shared state and
// are the same in every process; 0 means none. A process serialises its calls with one lock.
#include <string>
#include <vector>

#ifdef SANDBOX_PROFILE_BUILD
#define SANDBOX_PROFILE_API __declspec(dllexport)
#else
#define SANDBOX_PROFILE_API __declspec(dllimport)
#endif

namespace sandbox {

typedef std::vector<unsigned char> Bytes;

// The default-form property tags that a folder may hold.
const unsigned long TagDefPostMsgClass = 0x36E5001E;
const unsigned long TagDefPostDisplayName = 0x36E6001E;

// Stores.
SANDBOX_PROFILE_API std::vector<int> Stores();
SANDBOX_PROFILE_API int FindStore(const unsigned char* id, unsigned long size);
SANDBOX_PROFILE_API std::string StoreName(int store);
SANDBOX_PROFILE_API Bytes StoreId(int store);
// The store's top-level folders, in profile order.
SANDBOX_PROFILE_API std::vector<int> StoreFolders(int store);

// Folders. FindFolder looks in one store, or in all when store is 0.
SANDBOX_PROFILE_API int FindFolder(int store, const unsigned char* id, unsigned long size);
SANDBOX_PROFILE_API std::vector<int> FolderChildren(int folder);
SANDBOX_PROFILE_API int FolderParent(int folder); // 0 for a top-level folder
SANDBOX_PROFILE_API int FolderStore(int folder);
SANDBOX_PROFILE_API std::string FolderName(int folder);
SANDBOX_PROFILE_API std::string FolderPath(int folder);
SANDBOX_PROFILE_API Bytes FolderEntryId(int folder);
SANDBOX_PROFILE_API int FolderItemType(int folder);
SANDBOX_PROFILE_API bool FolderAccessible(int folder);
// The text Outlook gives as the folder's EntryID (store false) or StoreID (store true), when
// the profile sets one; false otherwise.
SANDBOX_PROFILE_API bool FolderOutlookId(int folder, bool store, std::string* text);
// True when MAPI is to open the folder's entry id as a message instead of a folder.
SANDBOX_PROFILE_API bool FolderOpensAsMessage(int folder);

// A folder's string properties by tag (TagDefPostMsgClass, TagDefPostDisplayName).
// GetFolderProp returns false, leaving value alone, when the folder lacks the property.
SANDBOX_PROFILE_API bool GetFolderProp(int folder, unsigned long tag, std::string* value);
SANDBOX_PROFILE_API void SetFolderProp(int folder, unsigned long tag, const std::string& value);
SANDBOX_PROFILE_API void RemoveFolderProp(int folder, unsigned long tag);
// The class a new item in the folder gets: its PR_DEF_POST_MSGCLASS when present, else the
// standard class of its item type ("IPM.Note", "IPM.Appointment", "IPM.Contact",
// "IPM.Task", "IPM.Activity", "IPM.StickyNote", "IPM.Post", "IPM.DistList").
SANDBOX_PROFILE_API std::string NewItemClass(int folder);

// Items, in folder order (Outlook's index N is element N-1).
SANDBOX_PROFILE_API std::vector<int> FolderItems(int folder);
// The same one at a time: the count, and the item at a 1-based index (0 when out of range).
SANDBOX_PROFILE_API int FolderItemCount(int folder);
SANDBOX_PROFILE_API int FolderItemAt(int folder, long index);
// Appends an item (saved count 0) and returns it (0 when the shared state has no room left);
// RemoveItem takes it out of its folder.
SANDBOX_PROFILE_API int AddItem(int folder, const std::string& messageClass);
SANDBOX_PROFILE_API void RemoveItem(int item);
SANDBOX_PROFILE_API int ItemFolder(int item);
SANDBOX_PROFILE_API std::string ItemPath(int item);
SANDBOX_PROFILE_API std::string ItemClass(int item);
SANDBOX_PROFILE_API void SetItemClass(int item, const std::string& messageClass);
SANDBOX_PROFILE_API std::string ItemSubject(int item);
SANDBOX_PROFILE_API int ItemSaveCount(int item);
SANDBOX_PROFILE_API void ItemSaved(int item); // adds one to the saved count

// Faults. What an entry of the fault table asks of the call it names.
enum class FaultKind {
    Fail,            // fail with the entry's HRESULT
    Close,           // the server closes during the call
    AnswerNull,      // succeed with a null string or object
    AnswerWrongType, // succeed with a value of another type
    AnswerUnknown,   // succeed with the object as IUnknown
};
// Each ShouldFail call counts as one call of member on object; it is true when an entry of the
// fault table names this call, and then stores the entry's kind and HRESULT (S_OK for the
// answer kinds) where given.
SANDBOX_PROFILE_API bool ShouldFail(const std::string& object, const std::string& member,
                                    long* result = nullptr, FaultKind* kind = nullptr);
// The same for one call of a stand-in ("outlook", "mapi32"), which also counts towards the
// stand-in's call total: SANDBOX_FAIL_CALL="STANDIN:K[:HRESULT]" in the environment of the
// process that made the shared state fails its K-th call, whatever the object and member.
// Each such call is recorded in calls.log.
SANDBOX_PROFILE_API bool ShouldFailCall(const char* standin, const std::string& object,
                                        const std::string& member, long* result = nullptr,
                                        FaultKind* kind = nullptr);
// How many calls ShouldFailCall has counted for the stand-in, in every process.
SANDBOX_PROFILE_API int CallCount(const char* standin);
// Adds a failing fault at run time; count 0 means every call.
SANDBOX_PROFILE_API void AddFault(const std::string& object, const std::string& member, int count,
                                  long result);
// Whether the stand-in is busy for the call it is about to count (a "busy" entry), and whether
// it then answers RPC_E_SERVERCALL_RETRYLATER rather than rejecting the call. A busy window is
// the state of the process that serves the calls.
SANDBOX_PROFILE_API bool IsBusy(const char* standin, bool* retryLater = nullptr);

// Appends one line to C:\sandbox\log\<log>.log (printf format); nothing with SANDBOX_BENCH=1
// (sandbox/common/Record.h).
SANDBOX_PROFILE_API void Record(const char* log, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Hex text of bytes, upper case, two digits a byte.
SANDBOX_PROFILE_API std::string HexText(const unsigned char* data, unsigned long size);

// Writes the current state to C:\sandbox\log\profile.out (in the profile text format).
SANDBOX_PROFILE_API void FlushProfile();

} // namespace sandbox

// The same flush under a plain name, for GetProcAddress.
extern "C" SANDBOX_PROFILE_API void SandboxFlushProfile();
