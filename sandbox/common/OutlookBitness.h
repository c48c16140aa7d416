#pragma once
// Which Outlook the sandbox has installed, 32-bit ("x86") or 64-bit ("x64"). The sandbox's own
// truth, which MAPI32.DLL's stand-in acts on, is kept apart from what Windows and Office record
// of it where the product looks, so that a scenario can record Office's values in one place
// only, or in none. Written by stage.exe --outlook-bitness and by the tests
// (tests/support/SandboxState.h).
#include "sandbox/common/Layout.h"
#include "sandbox/common/RegistryText.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace sandbox {

// The truth, in the 64-bit registry view (the only one on 32-bit Windows), which every process
// reads alike.
const char BitnessTruthKey[] = "SOFTWARE\\Sandbox\\Outlook";
const char BitnessTruthValue[] = "Bitness";

// Where Office records it: a) value "Bitness" of the Outlook key, in the registry view of
// Office's own bitness (WOW6432Node for 32-bit Office on 64-bit Windows); b) value "Platform"
// of Click-to-Run's configuration, in the 64-bit view.
const unsigned OutlookKeyBitness = 1;
const unsigned ClickToRunPlatform = 2;
const char OutlookKey[] = "SOFTWARE\\Microsoft\\Office\\16.0\\Outlook";
const char ClickToRunKey[] = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";

// The bitness of the process itself.
inline const char* ProcessBitness() {
    return sizeof(void*) == 8 ? "x64" : "x86";
}

// A REG_SZ of HKEY_LOCAL_MACHINE in the view given; empty when there is none.
inline std::string MachineText(const char* subKey, const char* name, REGSAM view) {
    return RegistryText(HKEY_LOCAL_MACHINE, subKey, name, view);
}

// "x86", "x64", or empty when the sandbox has no Outlook of either recorded.
inline std::string RecordedOutlookBitness() {
    return MachineText(BitnessTruthKey, BitnessTruthValue, KEY_WOW64_64KEY);
}

namespace bitness {

inline bool SetText(const char* subKey, const char* name, const char* text, REGSAM view) {
    return SetRegistryText(HKEY_LOCAL_MACHINE, subKey, name, text, view);
}

inline void Remove(const char* subKey, const char* name, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

} // namespace bitness

namespace bitness {

// The records alone (RecordOutlookBitness).
inline bool RecordBitnessOnly(const char* which, unsigned places) {
    bitness::Remove(BitnessTruthKey, BitnessTruthValue, KEY_WOW64_64KEY);
    bitness::Remove(OutlookKey, "Bitness", KEY_WOW64_64KEY);
    bitness::Remove(OutlookKey, "Bitness", KEY_WOW64_32KEY);
    bitness::Remove(ClickToRunKey, "Platform", KEY_WOW64_64KEY);
    if (which == nullptr)
        return true;
    REGSAM officeView = std::string(which) == "x64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    bool written = bitness::SetText(BitnessTruthKey, BitnessTruthValue, which, KEY_WOW64_64KEY);
    if (places & OutlookKeyBitness)
        written = bitness::SetText(OutlookKey, "Bitness", which, officeView) && written;
    if (places & ClickToRunPlatform)
        written = bitness::SetText(ClickToRunKey, "Platform", which, KEY_WOW64_64KEY) && written;
    return written;
}

} // namespace bitness

// Outlook's application class as Outlook 2000 and later register it for COM, with its ProgID,
// in HKEY_LOCAL_MACHINE\Software\Classes; and the class of Outlook 97 and 98, which a later
// Outlook may still register beside it for the same server.
#define SANDBOX_OUTLOOK_CLASS "{0006F03A-0000-0000-C000-000000000046}"
#define SANDBOX_OUTLOOK_OLD_CLASS "{0006F033-0000-0000-C000-000000000046}"
const char OutlookClassKey[] = "SOFTWARE\\Classes\\CLSID\\" SANDBOX_OUTLOOK_CLASS;
const char OutlookOldClassKey[] = "SOFTWARE\\Classes\\CLSID\\" SANDBOX_OUTLOOK_OLD_CLASS;
const char OutlookProgIdKey[] = "SOFTWARE\\Classes\\Outlook.Application";
const char OutlookLocalServer[] = SANDBOX_DIRECTORY "OutlookStandin.exe";

// Where Outlook's set-up registers its local server: in the registry view of Outlook's own
// bitness, where a 32-bit client on 64-bit Windows finds a 64-bit Outlook too (COM looks in the
// other view for a local server); in this process's own view while no bitness is recorded.
inline REGSAM OutlookClassView() {
    std::string bitness = RecordedOutlookBitness();
    return bitness == "x64" ? KEY_WOW64_64KEY : bitness == "x86" ? KEY_WOW64_32KEY : 0;
}

namespace bitness {

inline void RemoveKey(const std::string& key, REGSAM view) {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), view, 0); // only when left empty
}

inline void RemoveLocalServer(REGSAM view) {
    for (const char* classKey : {OutlookClassKey, OutlookOldClassKey}) {
        RemoveKey(std::string(classKey) + "\\LocalServer32", view);
        RemoveKey(std::string(classKey) + "\\ProgID", view);
        RemoveKey(classKey, view);
    }
    RemoveKey(std::string(OutlookProgIdKey) + "\\CLSID", view);
    RemoveKey(OutlookProgIdKey, view);
}

inline bool LocalServerOf(const char* classKey) {
    std::string key = std::string(classKey) + "\\LocalServer32";
    return !MachineText(key.c_str(), "", KEY_WOW64_64KEY).empty() ||
           !MachineText(key.c_str(), "", KEY_WOW64_32KEY).empty();
}

} // namespace bitness

// Whether the stand-in is registered as Outlook's local server, in either view.
inline bool OutlookLocalServerRegistered() {
    return bitness::LocalServerOf(OutlookClassKey) || bitness::LocalServerOf(OutlookOldClassKey);
}

// The stand-in as Outlook's local server, in the view of the recorded bitness only: the class
// of today's Outlook with its ProgID, and the old class beside it unless a machine without it
// is asked for.
inline bool RegisterOutlookLocalServer(bool oldClassToo = true) {
    bitness::RemoveLocalServer(KEY_WOW64_64KEY);
    bitness::RemoveLocalServer(KEY_WOW64_32KEY);
    REGSAM view = OutlookClassView();
    std::string key = std::string(OutlookClassKey);
    bool written =
        bitness::SetText((key + "\\LocalServer32").c_str(), "", OutlookLocalServer, view) &&
        bitness::SetText((key + "\\ProgID").c_str(), "", "Outlook.Application", view) &&
        bitness::SetText((std::string(OutlookProgIdKey) + "\\CLSID").c_str(), "",
                         SANDBOX_OUTLOOK_CLASS, view);
    if (oldClassToo)
        written = bitness::SetText((std::string(OutlookOldClassKey) + "\\LocalServer32").c_str(),
                                   "", OutlookLocalServer, view) &&
                  written;
    return written;
}

// Records an Outlook of this bitness ("x86" or "x64") in the truth and in the places given
// (OutlookKeyBitness, ClickToRunPlatform), after removing every earlier record; null
// removes them all. A local server already registered moves to the view of the new bitness.
// False when a value could not be written.
inline bool RecordOutlookBitness(const char* which, unsigned places) {
    bool registered = OutlookLocalServerRegistered();
    bool oldClassToo = bitness::LocalServerOf(OutlookOldClassKey);
    bool written = bitness::RecordBitnessOnly(which, places);
    return (!registered || RegisterOutlookLocalServer(oldClassToo)) && written;
}

} // namespace sandbox
