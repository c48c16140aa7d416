#pragma once
// What the Outlook conversion met and did, told to the removal log.

// The figures of the last conversion: Outlook reached or why not, what was walked, converted
// and reset, which way the default forms went (and, without Extended MAPI, why), each item and
// folder left for a person, and a call that Outlook kept waiting.
void LogConversion();
