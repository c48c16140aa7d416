#pragma once
// Depth-first, pre-order walk over every accessible folder below a folder collection.
#include "outlook/Automation.h"

// Called once for every accessible folder; owns the reference it is given. False stops the
// whole walk.
using FolderVisitor = bool (*)(DispatchRef folder, void* context);

// Takes over the collection reference. True when a visitor call stopped the walk. Errors other
// than an inaccessible folder leave the walk; every reference it holds is released on the way.
bool FolderWalk(DispatchRef collection, FolderVisitor visitor, void* context);
