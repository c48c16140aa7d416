#pragma once
#include "outlook/MailProfiles.h"

#include <windows.h>

#include <string>
#include <vector>

// What the caller asks of the conversion.
struct ConversionRequest {
    // Reset a task folder's Plendrax default form through Outlook's object model
    // (Folder.PropertyAccessor) where Extended MAPI cannot serve this process, whatever the
    // reason (Outlook of the other bitness, no Extended MAPI, a failed logon). The unattended
    // run asks it: nobody is there to be handed the forms. The interactive run does not and,
    // without Extended MAPI, hands the forms to its user with the uninstall document.
    bool formResetThroughOutlook = false;
    // Nobody is there to answer a window of Outlook's: an Outlook already running is used as it
    // is, and one is started only for a user whose default mail profile it logs on with
    // without asking (MailProfiles.h). The interactive run starts Outlook whatever the user has.
    bool nobodyToAnswerOutlook = false;
};

// An item the conversion had to skip: its folder's name and its subject, as Outlook gave them
// (or what could not be read of them).
struct FailedItem {
    std::string folder, subject;
};
// The failed items named one by one; the rest are counted only.
const size_t MaxFailedItemsNamed = 100;

// A task folder whose default form is still the Plendrax form after the run, and why.
struct FolderNotReset {
    std::string folder, why;
};

// What a ConversionRun met and did, for the removal log; kept as the run goes.
struct ConversionFigures {
    HRESULT comResult = S_OK;     // CoInitialize's answer
    HRESULT outlookResult = S_OK; // the creation's answer; Outlook was reached when S_OK
    bool outlookReached = false;
    bool outlookWasRunning = false; // found running and used as it was
    MailProfiles profiles;          // read when Outlook was to be started with nobody to answer it
    HRESULT endingError = S_OK;     // the error that ended the run early, if one did
    long foldersWalked = 0;         // accessible folders, each visited once
    long taskFolders = 0;
    long itemsConverted = 0; // class written and saved
    long itemsFailed = 0;    // skipped by an error
    long formsReset = 0;
    long formsNotReset = 0;        // Plendrax forms left, each named below (the first ones)
    bool extendedMapiUsed = false; // a MAPI session existed after the walk
    std::vector<FailedItem> failedItems;
    std::vector<FolderNotReset> foldersNotReset;
};

// The Outlook stage: gives every Plendrax task item back the standard task class, as the
// request asks, and tells in figures what it met. Always writes *manualSteps; true when the
// user must finish the form clean-up by hand.
bool ConversionRun(bool* manualSteps, const ConversionRequest& request, ConversionFigures& figures);

// Outlook's automation class is not registered: there is no Outlook, and so nothing to convert.
inline bool OutlookNotInstalled(const ConversionFigures& figures) {
    return !figures.outlookReached && figures.outlookResult == REGDB_E_CLASSNOTREG;
}
// Outlook was not started, for nobody would have answered the window it shows: the user has
// no mail profile (and so no Outlook data here), or it would ask which profile to use.
inline bool OutlookNotStarted(const ConversionFigures& figures) {
    MailProfileState state = figures.profiles.state;
    return state == MailProfileState::None || state == MailProfileState::Prompt ||
           state == MailProfileState::NoDefault;
}
