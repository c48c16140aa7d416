#include "mapi/MapiSession.h"

// Placeholder until Extended MAPI is wired in: no session is ever available.
MapiSession* GetMapiSession() { return nullptr; }
bool MapiSessionExists() { return false; }
void ReleaseMapiSession() {}
bool ResetFolderDefaultForm(const char*, const char*, const char*, const char*, const char*,
                            const char*) {
    return false;
}
