#include "mapi/MapiObject.h"

#include "mapi/MapiSessionClass.h"

#include <new>

MapiPropSet::~MapiPropSet() {
    if (values != nullptr && MapiFreeBufferEntry != nullptr)
        MapiFreeBufferEntry(values);
}

ULONG MapiPropSet::PropType(ULONG i) const {
    if (values == nullptr || i >= count)
        throw ERR_MAPI_FAILED;
    return PROP_TYPE(values[i].ulPropTag);
}

const char* MapiPropSet::GetString(ULONG i) const {
    if (PropType(i) != PT_STRING8 || values[i].Value.lpszA == nullptr)
        throw ERR_MAPI_FAILED;
    return values[i].Value.lpszA;
}

void MapiPropSet::SetString(ULONG tag, const char* text, ULONG i) {
    if (values == nullptr || i >= count)
        throw ERR_MAPI_FAILED;
    values[i].ulPropTag = tag;
    values[i].Value.lpszA = const_cast<char*>(text);
}

MapiObject::~MapiObject() {
    if (object != nullptr)
        object->Release();
}

std::unique_ptr<MapiObject> MapiObject::OpenFolder(const char* entryIdHex, ULONG flags) {
    return OpenEntry(entryIdHex, flags, MAPI_FOLDER);
}

std::unique_ptr<MapiObject> MapiObject::OpenEntry(const char* entryIdHex, ULONG flags,
                                                  ULONG requiredType) {
    ULONG type = 0;
    IUnknown* opened = nullptr;
    {
        std::vector<BYTE> id = HexToBytes(entryIdHex);
        lastResult = static_cast<IMsgStore*>(object)->OpenEntry(
            ULONG(id.size()), reinterpret_cast<LPENTRYID>(EntryIdBytes(id)), nullptr, flags, &type,
            &opened);
    }
    if (FAILED(lastResult) && opened != nullptr) {
        opened->Release();
        opened = nullptr;
    }
    CheckResult();
    if (opened == nullptr)
        throw ERR_MAPI_FAILED;
    if (type != requiredType) {
        opened->Release();
        throw ERR_WRONG_OBJECT_TYPE;
    }
    std::unique_ptr<MapiObject> wrapper(new (std::nothrow) MapiObject(opened));
    if (!wrapper) {
        opened->Release();
        throw ERR_MAPI_FAILED;
    }
    return wrapper;
}

std::unique_ptr<MapiPropSet> MapiObject::GetProps(LPSPropTagArray tagArray) {
    ULONG count = 0;
    LPSPropValue values = nullptr;
    lastResult = Prop()->GetProps(tagArray, 0, &count, &values);
    // Whatever array came back is ours to free, even alongside a failure.
    std::unique_ptr<MapiPropSet> propSet(new (std::nothrow) MapiPropSet(values, count));
    if (!propSet) {
        if (values != nullptr)
            MapiFreeBufferEntry(values);
        throw ERR_MAPI_FAILED;
    }
    CheckResult();
    return propSet;
}

void MapiObject::SetProps(const MapiPropSet& propSet) {
    lastResult = Prop()->SetProps(propSet.Count(), propSet.Values(), nullptr);
    CheckResult();
}

void MapiObject::SaveChanges(ULONG flags) {
    lastResult = Prop()->SaveChanges(flags);
    CheckResult();
}
