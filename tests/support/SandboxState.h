#pragma once
// What a test sets up and looks at in its sandbox prefix: files, registry keys, shortcuts,
// the stand-ins' registration and their records.
#include "sandbox/common/MailProfiles.h"
#include "sandbox/common/OutlookBitness.h"

#include <windows.h>

#include <string>
#include <vector>

bool FileExists(const std::string& path);
// False when the file could not be written whole.
bool CreateFileWithText(const std::string& path, const std::string& text = "x");
std::string ReadWholeFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path); // empty when missing
std::vector<std::string> SplitLines(const std::string& text);
// How many lines hold a (and b, when given).
size_t CountContaining(const std::vector<std::string>& lines, const std::string& a,
                       const std::string& b = std::string());

// A key's registry view: HKEY_LOCAL_MACHINE's as the shipped 32-bit uninstaller sees it (the
// 32-bit view on 64-bit Windows, where its installer wrote it), this process's own (where
// each build looks for Extended MAPI), or the 64-bit view.
enum class View { Shipped, Own, Wow64_64 };
bool KeyExists(HKEY root, const std::string& key, View view = View::Shipped);
bool ValueExists(HKEY root, const std::string& key, const char* value, View view = View::Shipped);
// A REG_SZ value's text; empty when it is not there.
std::string StringValue(HKEY root, const std::string& key, const char* name,
                        View view = View::Shipped);
void SetStringValue(HKEY root, const std::string& key, const char* name, const char* value,
                    View view = View::Shipped);

// What Windows will delete or rename at the next restart (PendingFileRenameOperations), in its
// order: "\??\PATH" for a deletion, "\??\PATH -> TARGET" for a rename.
std::vector<std::string> PendingAtRestart();

// The stand-in Outlook registered for Outlook's application class: as a local server of its
// own, started by COM, as users have Outlook; or in-process. The user's mail profiles are
// recorded as an Outlook that is set up has them: one profile, the default
// (sandbox::RecordMailProfile, sandbox/common/MailProfiles.h, records others).
enum class OutlookServer { Local, InProcess };
void RegisterOutlookStandin(OutlookServer server = OutlookServer::Local);
// The calls that the Outlook stand-in answered DISP_E_MEMBERNOTFOUND (outlook.log): a DISPID
// that Outlook's type library does not have for that object, which real Outlook refuses too.
std::vector<std::string> OutlookMembersNotFound();
// The local server's processes whose start the stand-in recorded in outlook.log.
std::vector<DWORD> OutlookServerProcesses();
// Whether every one of them has ended within limitMs (polled). The default is for a loaded
// machine, where a server's own end after its last release was once seen to take over 2 s.
bool OutlookServersGone(DWORD limitMs = 15000);
// Whether the registry says that Extended MAPI is installed ("MAPIX" = "1").
void SetExtendedMapi(bool present);

// Records the installed Outlook as "x86" or "x64" (null: none, as in a fresh prefix): the
// sandbox's truth, which MAPI32.DLL's stand-in acts on, and, per places, where Office records
// it for the product: sandbox::OutlookKeyBitness (the Outlook key's "Bitness", in the view of
// that bitness) and sandbox::ClickToRunPlatform (Click-to-Run's "Platform", 64-bit view), either,
// both or neither (sandbox/common/OutlookBitness.h). False when a value could not be written.
bool RecordOutlookBitness(const char* bitness, unsigned places);
// The bitness other than this process's: "x64" in a 32-bit process, "x86" in a 64-bit one.
const char* OtherBitness();

// String id of the staged uninstaller's string table.
std::string UninstallerString(UINT id);

// The shell folder's path, e.g. CSIDL_DESKTOPDIRECTORY.
std::string ShellFolderPath(int csidl);
// The product's shortcut in that shell folder.
std::string ShortcutIn(int csidl);

// The five files the product installs, in the order they are deleted.
extern const char* const ProductFiles[5];

// One System Restore request as the stand-in recorded it.
struct RestoreRequest {
    long long event = -1, type = -1, sequence = -1, statusIn = -1, messageBoxes = -1;
    bool terminated = false;
    DWORD tick = 0;
    std::string description;
};
std::vector<RestoreRequest> RestoreRequests();

// One start of the recorder (as the companion program or as the .doc opener).
struct RecordedStart {
    std::string module, directory, command;
};
std::vector<RecordedStart> RecordedStarts();
