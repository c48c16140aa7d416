#include "mapi/MapiSession.h"

#include "mapi/MapiObject.h"
#include "mapi/MapiSessionClass.h"

#include <cstring>
#include <new>

LPMAPIINITIALIZE MapiInitializeEntry;
LPMAPIUNINITIALIZE MapiUninitializeEntry;
LPMAPILOGONEX MapiLogonExEntry;
LPMAPIFREEBUFFER MapiFreeBufferEntry;

namespace {

// Main thread only: no lock.
MapiSession* sessionInstance;
bool failureLatch;
ExtendedMapiState extendedMapi;

const char* const MessagingSubsystemKey = "SOFTWARE\\Microsoft\\Windows Messaging Subsystem";

void CopyDefault(const char* defaultValue, char* buffer, DWORD bufferSize) {
    lstrcpynA(buffer, defaultValue ? defaultValue : "", int(bufferSize));
}

// Fetches one entry point into its process-wide pointer; false when it is missing.
template <typename Entry> bool FetchEntry(HMODULE library, const char* name, Entry& entry) {
    entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return entry != nullptr;
}

} // namespace

char* ReadRegistryString(const char* subKey, const char* valueName, const char* defaultValue,
                         HKEY rootKey, char* buffer, DWORD bufferSize, REGSAM view) {
    if (buffer == nullptr || bufferSize == 0)
        return buffer;
    CopyDefault(defaultValue, buffer, bufferSize);
    HKEY key;
    if (RegOpenKeyExA(rootKey, subKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
        CopyDefault(defaultValue, buffer, bufferSize);
        return buffer;
    }
    DWORD type;
    DWORD size = bufferSize;
    LONG status =
        RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    // The stored bytes need not end with a zero: terminate them when there is room, and
    // count a value that fills the buffer without one as not fitting.
    bool fits = status == ERROR_SUCCESS && size <= bufferSize &&
                (size < bufferSize || memchr(buffer, 0, bufferSize) != nullptr);
    if (!fits) {
        CopyDefault(defaultValue, buffer, bufferSize);
        return buffer;
    }
    if (size < bufferSize)
        buffer[size] = '\0';
    return buffer;
}

MapiSession::MapiSession() : state(NotInitialised), library(nullptr), session(nullptr) {
    char installed[100];
    ReadRegistryString(MessagingSubsystemKey, "MAPIX", "0", HKEY_LOCAL_MACHINE, installed,
                       sizeof installed);
    extendedMapi = ExtendedMapiState();
    if (strcmp(installed, "1") != 0) {
        extendedMapi.availability = MapiAvailability::NotInstalled;
        return;
    }
    // A process can use only the MAPI of its own bitness. Loading the other's stub puts a
    // system message box before the user (and holds an unattended run until somebody answers
    // it), then fails: where Office tells Outlook's bitness, the library is not even loaded.
    extendedMapi.outlook = InstalledOutlookBitness();
    if (extendedMapi.outlook.bitness != Bitness::Unknown &&
        extendedMapi.outlook.bitness != ProcessBitness()) {
        extendedMapi.availability = MapiAvailability::OtherBitness;
        return;
    }
    library = LoadLibraryA("MAPI32.DLL");
    if (library == nullptr) {
        extendedMapi.availability = MapiAvailability::NoLibrary;
        extendedMapi.code = long(GetLastError());
        return;
    }
    if (!FetchEntry(library, "MAPIInitialize", MapiInitializeEntry) ||
        !FetchEntry(library, "MAPIUninitialize", MapiUninitializeEntry) ||
        !FetchEntry(library, "MAPILogonEx", MapiLogonExEntry) ||
        !FetchEntry(library, "MAPIFreeBuffer", MapiFreeBufferEntry)) {
        extendedMapi.availability = MapiAvailability::NoEntryPoint;
        return;
    }
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    HRESULT initialised = MapiInitializeEntry(&init);
    if (SUCCEEDED(initialised)) {
        state = Initialised;
    } else {
        extendedMapi.availability = MapiAvailability::InitializeFailed;
        extendedMapi.code = initialised;
    }
}

MapiSession::~MapiSession() {
    Close();
}

void MapiSession::Logon(ULONG_PTR uiParam, ULONG flags, const char* profileName,
                        const char* password) {
    if (state != Initialised)
        throw ERR_NOT_INITIALISED;
    IMAPISession* loggedOn = nullptr;
    lastResult = MapiLogonExEntry(uiParam, const_cast<char*>(profileName),
                                  const_cast<char*>(password), flags | MAPI_EXTENDED, &loggedOn);
    CheckResult();
    // A success without a session is as good as a failure.
    if (loggedOn == nullptr)
        throw ERR_MAPI_FAILED;
    session = loggedOn;
    state = LoggedOn;
}

void MapiSession::Close() {
    if (session != nullptr) {
        session->Logoff(0, 0, 0);
        session->Release();
        session = nullptr;
    }
    if (state == Initialised || state == LoggedOn)
        MapiUninitializeEntry();
    state = NotInitialised;
    if (library != nullptr) {
        FreeLibrary(library);
        library = nullptr;
    }
}

std::unique_ptr<MapiObject> MapiSession::OpenMsgStore(const char* storeIdHex, ULONG flags) {
    if (session == nullptr)
        throw ERR_NOT_INITIALISED;
    IMsgStore* store = nullptr;
    {
        std::vector<BYTE> id = HexToBytes(storeIdHex);
        lastResult = session->OpenMsgStore(0, ULONG(id.size()),
                                           reinterpret_cast<LPENTRYID>(EntryIdBytes(id)), nullptr,
                                           flags, &store);
    }
    CheckResult();
    if (store == nullptr)
        throw ERR_MAPI_FAILED;
    std::unique_ptr<MapiObject> wrapper(new (std::nothrow) MapiObject(store));
    if (!wrapper) {
        store->Release();
        throw ERR_MAPI_FAILED;
    }
    return wrapper;
}

MapiSession* GetMapiSession() {
    if (sessionInstance != nullptr)
        return sessionInstance;
    if (failureLatch)
        return nullptr;
    sessionInstance = new (std::nothrow) MapiSession;
    if (sessionInstance == nullptr)
        extendedMapi.availability = MapiAvailability::NoMemory;
    if (sessionInstance == nullptr || !sessionInstance->IsInitialised()) {
        failureLatch = true;
        ReleaseMapiSession();
        return nullptr;
    }
    try {
        sessionInstance->Logon(0, MAPI_NO_MAIL, nullptr, nullptr);
    } catch (...) {
        extendedMapi.availability = MapiAvailability::LogonFailed;
        extendedMapi.code = sessionInstance->lastResult;
        failureLatch = true;
        ReleaseMapiSession();
        return nullptr;
    }
    extendedMapi.availability = MapiAvailability::Available;
    return sessionInstance;
}

const ExtendedMapiState& ExtendedMapi() {
    return extendedMapi;
}

bool MapiSessionExists() {
    return sessionInstance != nullptr;
}

void ReleaseMapiSession() {
    if (sessionInstance == nullptr)
        return;
    sessionInstance->Close();
    delete sessionInstance;
    sessionInstance = nullptr;
}

void ClearMapiFailureLatchForTesting() {
    failureLatch = false;
}
