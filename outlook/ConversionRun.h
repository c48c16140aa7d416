#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The Outlook stage: gives every Plendrax task item back the standard task class.
// Always writes *manualSteps; true when the user must finish the form clean-up by hand.
bool ConversionRun(bool* manualSteps);

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

// Whether a task folder's default form is reset through Outlook's object model
// (Folder.PropertyAccessor) where Extended MAPI cannot serve this process, whatever the reason
// (Outlook of the other bitness, no Extended MAPI, a failed logon). The unattended run sets it:
// nobody is there to be handed the forms. The interactive run leaves it clear and, without
// Extended MAPI, hands the forms to its user with the uninstall document.
extern bool FormResetThroughOutlook;

// What the last ConversionRun met and did, for the removal log. Kept as the run goes, whether
// or not anybody reads it: a few increments.
struct ConversionFigures {
    HRESULT comResult = S_OK;     // CoInitialize's answer
    HRESULT outlookResult = S_OK; // the creation's answer; Outlook was reached when S_OK
    bool outlookReached = false;
    HRESULT endingError = S_OK; // the error that ended the run early, if one did
    long foldersWalked = 0;     // accessible folders, each visited once
    long taskFolders = 0;
    long itemsConverted = 0; // class written and saved
    long itemsFailed = 0;    // skipped by an error
    long formsReset = 0;
    long formsNotReset = 0;        // Plendrax forms left, each named below (the first ones)
    bool extendedMapiUsed = false; // a MAPI session existed after the walk
    std::vector<FailedItem> failedItems;
    std::vector<FolderNotReset> foldersNotReset;
};

// Outlook's automation class is not registered: there is no Outlook, and so nothing to convert.
inline bool OutlookNotInstalled(const ConversionFigures& figures) {
    return !figures.outlookReached && figures.outlookResult == REGDB_E_CLASSNOTREG;
}
extern ConversionFigures LastConversion;
