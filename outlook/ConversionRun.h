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
    bool extendedMapiUsed = false; // a MAPI session existed after the walk
    std::vector<FailedItem> failedItems;
};

// Outlook's automation class is not registered: there is no Outlook, and so nothing to convert.
inline bool OutlookNotInstalled(const ConversionFigures& figures) {
    return !figures.outlookReached && figures.outlookResult == REGDB_E_CLASSNOTREG;
}
extern ConversionFigures LastConversion;
