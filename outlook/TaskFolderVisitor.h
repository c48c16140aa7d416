#pragma once
// The walk's visitor: resets a task folder's Plendrax default form and converts its Plendrax
// items to the standard task class.
#include "outlook/Automation.h"
#include "outlook/ConversionRun.h"

// What the visitor is given by the run, through the walk.
struct ConversionContext {
    bool* manualSteps;            // only ever set
    bool formResetThroughOutlook; // ConversionRequest
    ConversionFigures* figures;   // counted and named as it goes
};

// Context: a ConversionContext. Owns the folder reference. Always returns true when it returns.
bool TaskFolderVisitor(DispatchRef folder, void* context);

// True when the folder's default form is the Plendrax form, found from a temporary item that
// is closed unsaved. Owns the folder reference. An automation error that kept it from finding
// the form gives false, and its HRESULT in *notExamined where that is given (else S_OK).
bool DefaultFormProbe(DispatchRef folder, HRESULT* notExamined = nullptr);
