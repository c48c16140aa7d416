#pragma once
// The user's mail profiles as Outlook records them in HKEY_CURRENT_USER, written by
// stage.exe --outlook and the tests (tests/support/SandboxState.h), and read by the Outlook
// stand-in when COM starts it, as Outlook reads them to log on:
//   - Outlook 2013 and later: one subkey per profile of Software\Microsoft\Office\16.0 (15.0)
//     \Outlook\Profiles, the default named by the value DefaultProfile of ...\Outlook;
//   - older Outlook: the same in Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging
//     Subsystem\Profiles, whose own value DefaultProfile names the default;
//   - "Prompt for a profile to be used": PickLogonProfile "1" in
//     Software\Microsoft\Exchange\Client\Options.
#include "sandbox/common/RegistryText.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace sandbox {

const char* const ProfilesKeys[] = {
    "Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles",
    "Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles"};
const char* const DefaultProfileKeys[] = {"Software\\Microsoft\\Office\\16.0\\Outlook",
                                          "Software\\Microsoft\\Office\\15.0\\Outlook",
                                          ProfilesKeys[2]};
const char ClientOptionsKey[] = "Software\\Microsoft\\Exchange\\Client\\Options";
const char StagedProfile[] = "Outlook";

enum class MailProfile {
    None,      // no profile anywhere: Outlook's first-run account setup
    Default,   // "Outlook" in 16.0, the default
    Prompt,    // the same, and Outlook set to prompt for a profile
    NoDefault, // "Outlook" in 16.0, no default named
    Older      // "Outlook" as older Outlook keeps it, the default
};

namespace profiles {

inline bool SetText(const char* subKey, const char* name, const char* text) {
    return SetRegistryText(HKEY_CURRENT_USER, subKey, name, text);
}

inline std::string Text(const char* subKey, const char* name) {
    return RegistryText(HKEY_CURRENT_USER, subKey, name);
}

inline bool HasSubkey(const char* subKey, const std::string& name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(subKey) + "\\" + name).c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline DWORD Subkeys(const char* subKey) {
    HKEY key;
    DWORD count = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        count = 0;
    RegCloseKey(key);
    return count;
}

} // namespace profiles

// Records the user's mail profiles as asked, after removing every earlier record. False when a
// key or value could not be written.
inline bool RecordMailProfile(MailProfile which) {
    for (const char* key : ProfilesKeys)
        RegDeleteTreeA(HKEY_CURRENT_USER, key);
    for (const char* key : DefaultProfileKeys) {
        HKEY opened;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &opened) == ERROR_SUCCESS) {
            RegDeleteValueA(opened, "DefaultProfile");
            RegCloseKey(opened);
        }
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, ClientOptionsKey);
    if (which == MailProfile::None)
        return true;
    size_t place = which == MailProfile::Older ? 2 : 0;
    // A profile's key holds its services' sections; one empty section stands for them.
    std::string section = std::string(ProfilesKeys[place]) + "\\" + StagedProfile +
                          "\\9375CFF0413111d3B88A00104B2A6676";
    bool written = profiles::SetText(section.c_str(), "Account Name", "Outlook Data File");
    if (which != MailProfile::NoDefault)
        written = profiles::SetText(DefaultProfileKeys[place], "DefaultProfile", StagedProfile) &&
                  written;
    if (which == MailProfile::Prompt)
        written = profiles::SetText(ClientOptionsKey, "PickLogonProfile", "1") && written;
    return written;
}

// What Outlook started with no profile named shows first: nothing (it logs on with the default
// profile), its first-run account setup, or its Choose Profile box.
enum class OutlookStart { LogsOn, FirstRun, ChooseProfile };

inline OutlookStart HowOutlookStarts() {
    for (size_t place = 0; place < 3; ++place) {
        if (profiles::Subkeys(ProfilesKeys[place]) == 0)
            continue;
        if (profiles::Text(ClientOptionsKey, "PickLogonProfile") == "1")
            return OutlookStart::ChooseProfile;
        std::string name = profiles::Text(DefaultProfileKeys[place], "DefaultProfile");
        return !name.empty() && profiles::HasSubkey(ProfilesKeys[place], name)
                   ? OutlookStart::LogsOn
                   : OutlookStart::ChooseProfile;
    }
    return OutlookStart::FirstRun;
}

} // namespace sandbox
