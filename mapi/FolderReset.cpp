#include "mapi/MapiObject.h"
#include "mapi/MapiSession.h"
#include "mapi/MapiSessionClass.h"

#include <memory>

namespace {

// ASCII letters folded; any other byte compared as it is.
bool EqualsIgnoringCase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    for (;; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? char(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? char(*b - 'A' + 'a') : *b;
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

} // namespace

bool ResetFolderDefaultForm(const char* storeIdHex, const char* entryIdHex,
                            const char* expectedClass, const char* expectedName,
                            const char* newClass, const char* newName) {
    bool result = false;
    std::unique_ptr<MapiObject> store;
    std::unique_ptr<MapiObject> folder;
    std::unique_ptr<MapiPropSet> props;
    try {
        MapiSession* session = GetMapiSession();
        if (session != nullptr) {
            SizedSPropTagArray(2, tags) = {2, {PR_DEF_POST_MSGCLASS, PR_DEF_POST_DISPLAYNAME}};
            store = session->OpenMsgStore(storeIdHex, MDB_WRITE | MDB_NO_MAIL);
            folder = store->OpenFolder(entryIdHex, MAPI_MODIFY);
            props = folder->GetProps(reinterpret_cast<LPSPropTagArray>(&tags));
            if (EqualsIgnoringCase(props->GetString(0), expectedClass) &&
                EqualsIgnoringCase(props->GetString(1), expectedName)) {
                props->SetString(PR_DEF_POST_MSGCLASS, newClass, 0);
                props->SetString(PR_DEF_POST_DISPLAYNAME, newName, 1);
                folder->SetProps(*props);
                folder->SaveChanges(0);
                result = true;
            }
        }
    } catch (...) {
        result = false;
    }
    // The folder goes before its store; the property array is MAPI's own memory.
    folder.reset();
    store.reset();
    props.reset();
    return result;
}
