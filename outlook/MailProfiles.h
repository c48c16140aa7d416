#pragma once
// The user's mail profiles, where Outlook keeps them, read before Outlook is started: started
// by automation, Outlook logs on with the default profile, and without one it shows a window
// (its first-run account setup, or its Choose Profile box) that waits for a person.
//   - Outlook 2016 and later, and 2013: the subkeys of
//     HKEY_CURRENT_USER\Software\Microsoft\Office\16.0 (15.0)\Outlook\Profiles, the default
//     named by the value DefaultProfile of ...\Outlook;
//   - older Outlook: the subkeys of HKEY_CURRENT_USER\Software\Microsoft\Windows NT\CurrentVersion
//     \Windows Messaging Subsystem\Profiles, the default named by its value DefaultProfile;
//   - "Prompt for a profile to be used": the value PickLogonProfile, "1", of
//     HKEY_CURRENT_USER\Software\Microsoft\Exchange\Client\Options.
// The first of the three places that holds a profile is the one Outlook uses.
#include <windows.h>

#include <string>

enum class MailProfileState {
    NotRead,   // Outlook was found running, or nobody asked
    None,      // no profile in any of the places: no Outlook data of this user here
    Prompt,    // Outlook is set to prompt for a profile at start
    NoDefault, // profiles, but none of them the default: Outlook asks which one
    Default    // a default profile, which Outlook logs on with
};

struct MailProfiles {
    MailProfileState state = MailProfileState::NotRead;
    const char* place = nullptr; // the Profiles key used, below HKEY_CURRENT_USER
    DWORD count = 0;             // the profiles there
    std::string defaultName;     // the default profile, when there is one
};

// Where the older Outlook keeps its profiles, and where "prompt for a profile" is recorded.
extern const char* const MailProfilePlaces[3];
extern const char PickLogonProfileKey[];

MailProfiles ReadMailProfiles();
