#pragma once
// The one Extended MAPI session of the process (created on first request, latched after a
// failure) and the default-form reset. Nothing here raises to its callers.

class MapiSession;

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
