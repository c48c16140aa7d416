#include "mapi/OutlookBitness.h"

#include "mapi/MapiSessionClass.h"

#include <iterator>

namespace {

const char* const outlookKeys[] = {"Software\\Microsoft\\Office\\16.0\\Outlook",
                                   "Software\\Microsoft\\Office\\15.0\\Outlook",
                                   "Software\\Microsoft\\Office\\14.0\\Outlook"};
const char clickToRunKey[] = "Software\\Microsoft\\Office\\ClickToRun\\Configuration";

Bitness Parse(const char* text) {
    if (lstrcmpiA(text, "x64") == 0)
        return Bitness::X64;
    if (lstrcmpiA(text, "x86") == 0)
        return Bitness::X86;
    return Bitness::Unknown;
}

// Both views: KEY_WOW64_64KEY and KEY_WOW64_32KEY are ignored on 32-bit Windows, where the one
// view is read twice.
bool Read(const char* key, const char* value, OutlookBitnessRecord& record) {
    for (bool view64 : {true, false}) {
        char text[16];
        ReadRegistryString(key, value, "", HKEY_LOCAL_MACHINE, text, sizeof text,
                           view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
        Bitness bitness = Parse(text);
        if (bitness != Bitness::Unknown) {
            record = {bitness, key, value, view64};
            return true;
        }
    }
    return false;
}

} // namespace

OutlookBitnessRecord InstalledOutlookBitness() {
    OutlookBitnessRecord record;
    for (const char* key : outlookKeys)
        if (Read(key, "Bitness", record))
            return record;
    Read(clickToRunKey, "Platform", record);
    return record;
}
