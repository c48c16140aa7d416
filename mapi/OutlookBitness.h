#pragma once
// The bitness of the installed Outlook, from what Office records in the registry, found
// before Extended MAPI is loaded: a process can use only the MAPI of its own bitness, and the
// MAPI32.DLL stub that meets the other shows the user a system message box before it fails.
#include <windows.h>

enum class Bitness { Unknown, X86, X64 };

struct OutlookBitnessRecord {
    Bitness bitness = Bitness::Unknown;
    const char* key = nullptr;   // where it was read, under HKEY_LOCAL_MACHINE
    const char* value = nullptr; // the value's name
    bool view64 = false;         // read in the 64-bit view (else the 32-bit one)
};

// Reads, in this order, the first of these that says "x86" or "x64" (letter case aside):
//   1. Software\Microsoft\Office\<16.0, 15.0, 14.0>\Outlook, "Bitness": 64-bit view, then
//      32-bit view, newest version first (Outlook's own record; 64-bit Office writes it in the
//      64-bit view, 32-bit Office under WOW6432Node);
//   2. Software\Microsoft\Office\ClickToRun\Configuration, "Platform": 64-bit view, then
//      32-bit view (Click-to-Run's record of the whole suite, where the Bitness value is
//      reported missing).
// Only registry reads: no library is loaded and no window can appear. Unknown when none says.
OutlookBitnessRecord InstalledOutlookBitness();

inline Bitness ProcessBitness() {
    return sizeof(void*) == 8 ? Bitness::X64 : Bitness::X86;
}

inline const char* BitnessText(Bitness bitness) {
    return bitness == Bitness::X64 ? "64-bit" : bitness == Bitness::X86 ? "32-bit" : "unknown";
}
