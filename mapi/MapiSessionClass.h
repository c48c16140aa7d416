#pragma once
// The Extended MAPI session object behind GetMapiSession, and the registry read that decides
// whether Extended MAPI is installed.
#include "mapi/MapiBase.h"
#include "mapi/MapiSession.h"
#include "platform/MapiTags.h"

#include <memory>

class MapiObject;

// Reads a string value into buffer (bufferSize bytes), or the default when the key or value
// is missing, unreadable or does not fit with its terminating zero. The result is always
// zero-terminated within bufferSize; the value's registry type is ignored. Returns buffer.
// view may name a registry view (KEY_WOW64_64KEY, KEY_WOW64_32KEY); the default is the
// process's own.
char* ReadRegistryString(const char* subKey, const char* valueName, const char* defaultValue,
                         HKEY rootKey, char* buffer, DWORD bufferSize, REGSAM view = 0);

// MAPI32.DLL's entry points, valid while a MapiSession holds the library.
extern LPMAPIINITIALIZE MapiInitializeEntry;
extern LPMAPIUNINITIALIZE MapiUninitializeEntry;
extern LPMAPILOGONEX MapiLogonExEntry;
extern LPMAPIFREEBUFFER MapiFreeBufferEntry;

class MapiSession : public MapiBase {
  public:
    enum State { LoggedOn = 0, Initialised = 1, NotInitialised = 2 };

    // Registry test, library load, entry points and MAPIInitialize; stops quietly at the
    // first step that fails, leaving the state NotInitialised.
    MapiSession();
    ~MapiSession();
    MapiSession(const MapiSession&) = delete;
    MapiSession& operator=(const MapiSession&) = delete;

    bool IsInitialised() const { return state == Initialised; }
    // Raises ERR_NOT_INITIALISED unless Initialised, ERR_MAPI_FAILED when logon fails.
    void Logon(ULONG_PTR uiParam, ULONG flags, const char* profileName, const char* password);
    // Logs off, releases the session, uninitialises MAPI and frees the library; safe to
    // repeat.
    void Close();
    std::unique_ptr<MapiObject> OpenMsgStore(const char* storeIdHex, ULONG flags);

  private:
    State state;
    HMODULE library;
    IMAPISession* session;
};

// Clears the process-wide failure latch. Only for tests that run several session
// scenarios in one process; the product never clears it.
void ClearMapiFailureLatchForTesting();
