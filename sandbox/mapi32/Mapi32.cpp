// Stand-in for Extended MAPI's MAPI32.DLL: a session, message stores and folders served from
// the sandbox profile (sandbox/profile/Profile.h). Strict about the protocol, counts every
// live object and buffer, and records each call in C:\sandbox\log\mapi32.log.
//
// Faults (profile "fail" entries) by object and member:
//   mapi32   MAPIInitialize, MAPILogonEx
//   session  OpenMsgStore
//   <store display name>  OpenEntry
//   <folder path>  GetProps, SetProps, SaveChanges
// A fault with a success code (e.g. "fail session OpenMsgStore 1 0") returns that code and
// hands back null pointers or an empty property array, as a broken MAPI might.
// A folder with opens=message is opened as a message (object type 5); a folder lacking a
// default-form property gives it back as PT_ERROR with MAPI_W_ERRORS_RETURNED.
//
// As the real MAPI is documented to: IMsgStore::OpenEntry with a null entry id opens the
// store's root folder (recorded as id=null); an id of no bytes names nothing; OpenMsgStore
// refuses a null id; folders are not transacted, so SetProps changes them at once and
// SaveChanges has nothing left to commit; MAPILogonEx takes no password; each object answers
// QueryInterface for IUnknown and its own interfaces.
//
// The real MAPI32.DLL is a stub that hands Extended MAPI to the installed Outlook's own, which
// a process of the other bitness cannot load: with the sandbox's Outlook recorded as the other
// bitness (sandbox/common/OutlookBitness.h), MAPIInitialize shows the stub's message box
// (recorded as "MessageBox shown ..." and "MessageBox answered N") and then fails with
// MAPI_E_CALL_FAILED, whatever else it was given.
//
// Every one of these calls counts towards SANDBOX_FAIL_CALL="mapi32:K" (Profile.h).
// SandboxLiveObjects and SandboxLiveBuffers tell what has not been released or freed.
//
// Built once more with SANDBOX_NO_LOGON, as a MAPI32.DLL without MAPILogonEx.
#include "platform/MapiTags.h"
#include "sandbox/common/OutlookBitness.h"
#include "sandbox/profile/Profile.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

const char* const Log = "mapi32";

// Every object whose reference count has not yet reached zero, by address.
std::map<const void*, std::string> liveObjects;
// Every buffer handed out and not yet freed, by address.
std::map<const void*, std::string> liveBuffers;
int bufferCount;
int initialiseCount;

std::string Hex(const void* data, ULONG size) {
    return data == nullptr ? "null"
                           : sandbox::HexText(static_cast<const unsigned char*>(data), size);
}

#ifndef SANDBOX_NO_LOGON
const char* Text(const char* text) {
    return text ? text : "(null)";
}
#endif

void RecordLeaks(const char* event) {
    sandbox::Record(Log, "%s live=%u buffers=%u", event, unsigned(liveObjects.size()),
                    unsigned(liveBuffers.size()));
    for (const auto& object : liveObjects)
        sandbox::Record(Log, "leak %s", object.second.c_str());
    for (const auto& buffer : liveBuffers)
        sandbox::Record(Log, "leak buffer %s", buffer.second.c_str());
}

// A profile fault for this call, or S_OK. A fault with a success code stands for a broken
// MAPI: the call reports that code but hands back nothing (*broken is set).
HRESULT Fault(const std::string& object, const char* member, bool* broken = nullptr) {
    long result = 0;
    bool failing = sandbox::ShouldFailCall(Log, object, member, &result);
    if (broken)
        *broken = failing && SUCCEEDED(result);
    return failing ? HRESULT(result) : S_OK;
}

bool OutlookOfOtherBitness() {
    std::string outlook = sandbox::RecordedOutlookBitness();
    return !outlook.empty() && outlook != sandbox::ProcessBitness();
}

// What the stub does in a process that cannot use the installed Outlook's MAPI.
HRESULT StubRefusal() {
    const char caption[] = "Microsoft Outlook";
    const char text[] = "Either there is no default mail client or the current mail client cannot "
                        "fulfill the messaging request. Please run Microsoft Outlook and set it as "
                        "the default mail client.";
    const UINT style = MB_OK | MB_ICONERROR;
    sandbox::Record(Log, "MessageBox shown caption=\"%s\" style=0x%X text=\"%s\"", caption, style,
                    text);
    int answer = MessageBoxA(nullptr, text, caption, style);
    sandbox::Record(Log, "MessageBox answered %d", answer);
    return MAPI_E_CALL_FAILED;
}

// The reference counting, recording and leak accounting shared by every object.
template <typename Interface> class Counted : public Interface {
  public:
    Counted(const std::string& kind, const std::string& name) : description(kind) {
        if (!name.empty())
            description += " \"" + name + "\"";
        liveObjects[this] = description;
    }
    virtual ~Counted() { liveObjects.erase(this); }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_INVALIDARG;
        *object = nullptr;
        if (iid != IID_IUnknown && !Implements(iid)) {
            sandbox::Record(Log, "QueryInterface %s -> no interface", description.c_str());
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        ++references;
        sandbox::Record(Log, "AddRef %s refs=%lu", description.c_str(), references);
        return references;
    }
    STDMETHODIMP_(ULONG) Release() override {
        if (references == 0) {
            sandbox::Record(Log, "Release %s after its last release", description.c_str());
            return 0;
        }
        ULONG left = --references;
        sandbox::Record(Log, "Release %s refs=%lu", description.c_str(), left);
        if (left == 0)
            delete this;
        return left;
    }

  protected:
    // The interfaces beyond IUnknown that the object answers for.
    virtual bool Implements(REFIID iid) const = 0;

    std::string description;
    ULONG references = 1;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
// Every method the uninstaller has no business calling.
#define UNSUPPORTED                                                                                \
    {                                                                                              \
        sandbox::Record(Log, "unsupported %s", __func__);                                          \
        return MAPI_E_NO_SUPPORT;                                                                  \
    }

class SessionMethods : public IMAPISession {
  public:
    MAPI_IMAPISESSION_METHODS(UNSUPPORTED)
};
class StoreMethods : public IMsgStore {
  public:
    MAPI_IMAPIPROP_METHODS(UNSUPPORTED)
    MAPI_IMSGSTORE_METHODS(UNSUPPORTED)
};
class FolderMethods : public IMAPIFolder {
  public:
    MAPI_IMAPIPROP_METHODS(UNSUPPORTED)
    MAPI_IMAPICONTAINER_METHODS(UNSUPPORTED)
    MAPI_IMAPIFOLDER_METHODS(UNSUPPORTED)
};
class MessageMethods : public IMessage {
  public:
    MAPI_IMAPIPROP_METHODS(UNSUPPORTED)
    MAPI_IMESSAGE_METHODS(UNSUPPORTED)
};
#pragma GCC diagnostic pop

class Message : public Counted<MessageMethods> {
  public:
    Message(int folder) : Counted("message", sandbox::FolderPath(folder)) {}

  protected:
    bool Implements(REFIID iid) const override {
        return iid == IID_IMAPIProp || iid == IID_IMessage;
    }
};

// A folder of the profile, or (folder 0) a store's root folder, which holds no default form.
class Folder : public Counted<FolderMethods> {
  public:
    Folder(int folder, const std::string& path, bool modify)
        : Counted("folder", path), folder(folder), path(path), modify(modify) {}

    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                          LPSPropValue* values) override {
        std::string list;
        for (ULONG i = 0; tags != nullptr && i < tags->cValues; ++i) {
            char tag[16];
            snprintf(tag, sizeof tag, "%s0x%08lX", i ? "," : "", tags->aulPropTag[i]);
            list += tag;
        }
        bool broken;
        HRESULT result = Fault(path, "GetProps", &broken);
        if (count == nullptr || values == nullptr)
            result = MAPI_E_INVALID_PARAMETER;
        else if (tags == nullptr || tags->cValues == 0)
            result = MAPI_E_NO_SUPPORT; // all properties: not served
        else if (flags != 0 && flags != MAPI_UNICODE)
            result = MAPI_E_UNKNOWN_FLAGS;
        std::string label;
        if (result == S_OK && !broken) {
            result = Fetch(tags, flags, count, values, &label);
        } else if (count != nullptr && values != nullptr) {
            *count = 0;
            *values = nullptr;
        }
        sandbox::Record(Log, "GetProps folder=\"%s\" tags=%s flags=0x%lX -> 0x%08lX buffer=%s",
                        path.c_str(), list.c_str(), flags, result,
                        label.empty() ? "none" : label.c_str());
        return result;
    }

    STDMETHODIMP SetProps(ULONG count, LPSPropValue values,
                          LPSPropProblemArray* problems) override {
        std::string list;
        HRESULT result = Fault(path, "SetProps");
        for (ULONG i = 0; values != nullptr && i < count; ++i) {
            const SPropValue& value = values[i];
            char entry[64];
            snprintf(entry, sizeof entry, " 0x%08lX=", value.ulPropTag);
            list += entry;
            if (PROP_TYPE(value.ulPropTag) == PT_STRING8 && value.Value.lpszA != nullptr) {
                list += "\"" + std::string(value.Value.lpszA) + "\"";
            } else {
                list += "unsupported";
                if (result == S_OK)
                    result = MAPI_E_INVALID_PARAMETER;
            }
        }
        if (values == nullptr || count == 0)
            result = MAPI_E_INVALID_PARAMETER;
        else if (result == S_OK && !modify)
            result = MAPI_E_NO_ACCESS;
        // Folders are not transacted: the change is made at once.
        if (result == S_OK)
            for (ULONG i = 0; i < count; ++i)
                sandbox::SetFolderProp(folder, values[i].ulPropTag, values[i].Value.lpszA);
        if (problems)
            *problems = nullptr;
        sandbox::Record(Log, "SetProps folder=\"%s\" count=%lu problems=%s%s -> 0x%08lX",
                        path.c_str(), count, problems ? "requested" : "null", list.c_str(), result);
        return result;
    }

    // Nothing is left to commit on a folder; the call checks its flags and access all the same.
    STDMETHODIMP SaveChanges(ULONG flags) override {
        HRESULT result = Fault(path, "SaveChanges");
        const ULONG known = KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE;
        if (result == S_OK && (flags & ~known) != 0)
            result = MAPI_E_UNKNOWN_FLAGS;
        else if (result == S_OK && !modify)
            result = MAPI_E_NO_ACCESS;
        sandbox::Record(Log, "SaveChanges folder=\"%s\" flags=0x%lX -> 0x%08lX", path.c_str(),
                        flags, result);
        return result;
    }

  protected:
    bool Implements(REFIID iid) const override {
        return iid == IID_IMAPIProp || iid == IID_IMAPIContainer || iid == IID_IMAPIFolder;
    }

  private:
    // One block holding the array and its strings, freed by MAPIFreeBuffer.
    HRESULT Fetch(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values,
                  std::string* label) {
        std::vector<std::string> texts(tags->cValues);
        std::vector<bool> found(tags->cValues);
        size_t size = tags->cValues * sizeof(SPropValue);
        for (ULONG i = 0; i < tags->cValues; ++i) {
            // Only narrow strings are served; a wide request (or flag) finds nothing.
            found[i] = PROP_TYPE(tags->aulPropTag[i]) == PT_STRING8 && flags == 0 && folder != 0 &&
                       sandbox::GetFolderProp(folder, tags->aulPropTag[i], &texts[i]);
            if (found[i])
                size += texts[i].size() + 1;
        }
        auto* block = static_cast<unsigned char*>(calloc(1, size));
        if (block == nullptr)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* array = reinterpret_cast<LPSPropValue>(block);
        char* strings = reinterpret_cast<char*>(block + tags->cValues * sizeof(SPropValue));
        HRESULT result = S_OK;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            if (found[i]) {
                array[i].ulPropTag = tags->aulPropTag[i];
                memcpy(strings, texts[i].c_str(), texts[i].size() + 1);
                array[i].Value.lpszA = strings;
                strings += texts[i].size() + 1;
            } else {
                array[i].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[i], PT_ERROR);
                array[i].Value.err = MAPI_E_NOT_FOUND;
                result = MAPI_W_ERRORS_RETURNED;
            }
        }
        *label = "GetProps#" + std::to_string(++bufferCount);
        liveBuffers[block] = *label;
        *count = tags->cValues;
        *values = array;
        return result;
    }

    int folder;
    std::string path;
    bool modify;
};

class Store : public Counted<StoreMethods> {
  public:
    Store(int store, bool writable)
        : Counted("store", sandbox::StoreName(store)), store(store),
          name(sandbox::StoreName(store)), writable(writable) {}

    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID id, LPCIID iface, ULONG flags, ULONG* type,
                           LPUNKNOWN* object) override {
        bool broken;
        HRESULT result = Fault(name, "OpenEntry", &broken);
        int folder = 0;
        bool root = id == nullptr; // a null entry id opens the store's root folder
        ULONG openedType = 0;
        const ULONG known = MAPI_MODIFY | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS;
        if (type == nullptr || object == nullptr)
            result = MAPI_E_INVALID_PARAMETER;
        else if (result == S_OK && (flags & ~known) != 0)
            result = MAPI_E_UNKNOWN_FLAGS;
        else if (result == S_OK && (flags & MAPI_MODIFY) && !writable)
            result = MAPI_E_NO_ACCESS;
        else if (result == S_OK && !root && size == 0)
            result = MAPI_E_INVALID_ENTRYID; // no bytes name no entry
        else if (result == S_OK && !root &&
                 (folder =
                      sandbox::FindFolder(store, reinterpret_cast<unsigned char*>(id), size)) == 0)
            result = MAPI_E_NOT_FOUND;
        else if (result == S_OK && !root && !sandbox::FolderAccessible(folder))
            result = MAPI_E_NO_ACCESS;
        if (result == S_OK && broken) {
            *object = nullptr;
            *type = openedType = MAPI_FOLDER;
        } else if (result == S_OK) {
            if (root) {
                *object = static_cast<IMAPIFolder*>(
                    new Folder(0, name + " (root)", (flags & MAPI_MODIFY) != 0));
                openedType = MAPI_FOLDER;
            } else if (sandbox::FolderOpensAsMessage(folder)) {
                *object = new Message(folder);
                openedType = MAPI_MESSAGE;
            } else {
                *object = static_cast<IMAPIFolder*>(
                    new Folder(folder, sandbox::FolderPath(folder), (flags & MAPI_MODIFY) != 0));
                openedType = MAPI_FOLDER;
            }
            *type = openedType;
        } else if (object != nullptr) {
            *object = nullptr;
        }
        sandbox::Record(Log,
                        "OpenEntry store=\"%s\" id=%s iface=%s flags=0x%lX -> 0x%08lX type=%lu%s",
                        name.c_str(), Hex(id, size).c_str(), iface ? "given" : "null", flags,
                        result, openedType, root && result == S_OK ? " root" : "");
        return result;
    }

  protected:
    bool Implements(REFIID iid) const override {
        return iid == IID_IMAPIProp || iid == IID_IMsgStore;
    }

  private:
    int store;
    std::string name;
    bool writable;
};

class Session : public Counted<SessionMethods> {
  public:
    Session() : Counted("session", "") {}

    STDMETHODIMP OpenMsgStore(ULONG_PTR uiParam, ULONG size, LPENTRYID id, LPCIID iface,
                              ULONG flags, LPMDB* opened) override {
        bool broken;
        HRESULT result = Fault("session", "OpenMsgStore", &broken);
        int store = 0;
        const ULONG known = MDB_NO_DIALOG | MDB_WRITE | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS |
                            MDB_TEMPORARY | MDB_NO_MAIL;
        if (opened == nullptr || id == nullptr)
            result = MAPI_E_INVALID_PARAMETER; // a store is always named
        else if (result == S_OK && loggedOff)
            result = MAPI_E_END_OF_SESSION;
        else if (result == S_OK && (flags & ~known) != 0)
            result = MAPI_E_UNKNOWN_FLAGS;
        else if (result == S_OK && size == 0)
            result = MAPI_E_INVALID_ENTRYID;
        else if (result == S_OK &&
                 (store = sandbox::FindStore(reinterpret_cast<unsigned char*>(id), size)) == 0)
            result = MAPI_E_NOT_FOUND;
        if (opened != nullptr)
            *opened =
                result == S_OK && !broken ? new Store(store, (flags & MDB_WRITE) != 0) : nullptr;
        sandbox::Record(Log,
                        "OpenMsgStore ui=%lu id=%s iface=%s flags=0x%lX -> 0x%08lX store=\"%s\"",
                        (unsigned long)uiParam, Hex(id, size).c_str(), iface ? "given" : "null",
                        flags, result, sandbox::StoreName(store).c_str());
        return result;
    }

    STDMETHODIMP Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) override {
        HRESULT result = S_OK;
        if (loggedOff)
            result = MAPI_E_END_OF_SESSION;
        else if ((flags & ~(MAPI_LOGOFF_SHARED | MAPI_LOGOFF_UI)) != 0 || reserved != 0)
            result = MAPI_E_INVALID_PARAMETER;
        loggedOff = true;
        sandbox::Record(Log, "Logoff ui=%lu flags=0x%lX reserved=%lu -> 0x%08lX",
                        (unsigned long)uiParam, flags, reserved, result);
        return result;
    }

  protected:
    bool Implements(REFIID iid) const override { return iid == IID_IMAPISession; }

  private:
    bool loggedOff = false;
};

} // namespace

extern "C" {

HRESULT WINAPI MAPIInitialize(LPVOID init) {
    auto* settings = static_cast<MAPIINIT_0*>(init);
    HRESULT result = Fault("mapi32", "MAPIInitialize");
    const ULONG noCoInit = 0x00000008; // MAPI_NO_COINIT, which mingw-w64 lacks
    const ULONG known = MAPI_MULTITHREAD_NOTIFICATIONS | noCoInit | MAPI_NT_SERVICE;
    if (OutlookOfOtherBitness())
        result = StubRefusal();
    else if (result == S_OK && settings != nullptr && settings->ulVersion != MAPI_INIT_VERSION)
        result = MAPI_E_VERSION;
    else if (result == S_OK && settings != nullptr && (settings->ulFlags & ~known) != 0)
        result = MAPI_E_UNKNOWN_FLAGS;
    if (result == S_OK)
        ++initialiseCount;
    if (settings != nullptr)
        sandbox::Record(Log, "MAPIInitialize version=%lu flags=0x%lX -> 0x%08lX",
                        settings->ulVersion, settings->ulFlags, result);
    else
        sandbox::Record(Log, "MAPIInitialize null -> 0x%08lX", result);
    return result;
}

void WINAPI MAPIUninitialize() {
    if (initialiseCount == 0)
        sandbox::Record(Log, "MAPIUninitialize without MAPIInitialize");
    else
        --initialiseCount;
    RecordLeaks("MAPIUninitialize");
}

#ifndef SANDBOX_NO_LOGON
HRESULT WINAPI MAPILogonEx(ULONG_PTR uiParam, LPTSTR profileName, LPTSTR password, ULONG flags,
                           LPMAPISESSION* session) {
    bool broken;
    HRESULT result = Fault("mapi32", "MAPILogonEx", &broken);
    const ULONG known = MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS |
                        MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED | MAPI_USE_DEFAULT |
                        MAPI_FORCE_DOWNLOAD | MAPI_SERVICE_UI_ALWAYS | MAPI_NO_MAIL |
                        MAPI_PASSWORD_UI | MAPI_TIMEOUT_SHORT;
    if (session == nullptr || password != nullptr)
        result = MAPI_E_INVALID_PARAMETER; // the password must be null
    else if (result == S_OK && initialiseCount == 0)
        result = MAPI_E_NOT_INITIALIZED;
    else if (result == S_OK && ((flags & ~known) != 0 || (flags & MAPI_EXTENDED) == 0))
        result = MAPI_E_UNKNOWN_FLAGS;
    if (session != nullptr)
        *session = result == S_OK && !broken ? new Session : nullptr;
    sandbox::Record(Log, "MAPILogonEx ui=%lu profile=%s password=%s flags=0x%lX -> 0x%08lX",
                    (unsigned long)uiParam, Text(profileName), Text(password), flags, result);
    return result;
}
#endif

ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
    if (buffer == nullptr) {
        sandbox::Record(Log, "MAPIFreeBuffer null");
        return S_OK;
    }
    auto found = liveBuffers.find(buffer);
    if (found == liveBuffers.end()) {
        sandbox::Record(Log, "MAPIFreeBuffer unknown");
        return S_OK;
    }
    sandbox::Record(Log, "MAPIFreeBuffer %s", found->second.c_str());
    liveBuffers.erase(found);
    free(buffer);
    return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        sandbox::Record(Log, "attach");
    else if (reason == DLL_PROCESS_DETACH)
        RecordLeaks("detach");
    return TRUE;
}

} // extern "C"

extern "C" long SandboxLiveObjects() {
    return long(liveObjects.size());
}

extern "C" long SandboxLiveBuffers() {
    return long(liveBuffers.size());
}
