#pragma once
// The walk's visitor: resets a task folder's Plendrax default form and converts its Plendrax
// items to the standard task class.
#include "outlook/Automation.h"

// Context: the address of the manual-steps flag, which it only ever sets. Owns the folder
// reference. Always returns true when it returns.
bool TaskFolderVisitor(DispatchRef folder, void* context);

// True when the folder's default form is the Plendrax form, found from a temporary item that
// is closed unsaved. Owns the folder reference.
bool DefaultFormProbe(DispatchRef folder);
