#pragma once
// What the Outlook conversion met and did, told to the removal log.
#include "outlook/ConversionRun.h"

// The figures of a conversion: Outlook reached or why not (found running, or not started for
// the user's mail profiles), what was walked, converted and reset, which way the default forms
// went (and, without Extended MAPI, why), each item and folder left for a person, and a call
// that Outlook kept waiting.
void LogConversion(const ConversionRequest& request, const ConversionFigures& figures);
