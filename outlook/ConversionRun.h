#pragma once
#include <windows.h>

// The Outlook stage: gives every Plendrax task item back the standard task class.
// Always writes *manualSteps; true when the user must finish the form clean-up by hand.
bool ConversionRun(bool* manualSteps);

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
};
extern ConversionFigures LastConversion;
