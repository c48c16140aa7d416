#pragma once
// The one Extended MAPI session of the process (created on first request, latched after a
// failure) and the default-form reset. Nothing here raises to its callers.
#include "mapi/OutlookBitness.h"

class MapiSession;

// Whether Extended MAPI could serve this process, and if not, the first thing that stood in
// its way; for the removal log.
enum class MapiAvailability {
    NotTried,         // no session was asked for
    Available,        // a session was logged on
    NotInstalled,     // the MAPIX value is not "1"
    OtherBitness,     // Outlook is of the other bitness: MAPI32.DLL was not loaded
    NoLibrary,        // MAPI32.DLL could not be loaded (code: the Windows error)
    NoEntryPoint,     // an entry point is missing
    InitializeFailed, // MAPIInitialize failed (code: its HRESULT)
    LogonFailed,      // MAPILogonEx failed (code: its HRESULT)
    NoMemory,         // the session object could not be made
};
struct ExtendedMapiState {
    MapiAvailability availability = MapiAvailability::NotTried;
    long code = 0;
    OutlookBitnessRecord outlook; // what told Outlook's bitness, when it was known
};
const ExtendedMapiState& ExtendedMapi();

// The logged-on session, or null when Extended MAPI cannot be used. Never raises.
MapiSession* GetMapiSession();
// True while a session object exists.
bool MapiSessionExists();
// Logs off and destroys the session, if any. Never raises.
void ReleaseMapiSession();

// Rewrites the folder's default class and form name when both still hold the expected
// (case-insensitively compared) old values. True only when the new values were saved.
bool ResetFolderDefaultForm(const char* storeIdHex, const char* entryIdHex,
                            const char* expectedClass, const char* expectedName,
                            const char* newClass, const char* newName);
