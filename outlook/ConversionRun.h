#pragma once

// The Outlook stage: gives every Plendrax task item back the standard task class.
// Always writes *manualSteps; true when the user must finish the form clean-up by hand.
bool ConversionRun(bool* manualSteps);
