#pragma once
// Owning wrappers around an opened MAPI object and a fetched property array.
#include "mapi/MapiBase.h"
#include "platform/MapiTags.h"

#include <memory>

class MapiPropSet {
  public:
    MapiPropSet(LPSPropValue values, ULONG count) : values(values), count(count) {}
    // Frees the array with MAPIFreeBuffer.
    ~MapiPropSet();
    MapiPropSet(const MapiPropSet&) = delete;
    MapiPropSet& operator=(const MapiPropSet&) = delete;

    ULONG Count() const { return count; }
    // Entry i's property type; raises ERR_MAPI_FAILED for an index beyond the array.
    ULONG PropType(ULONG i) const;
    // Entry i's narrow string; raises ERR_MAPI_FAILED unless it is a non-null PT_STRING8.
    const char* GetString(ULONG i) const;
    // Points entry i at text (not copied: it must outlive the set's use).
    void SetString(ULONG tag, const char* text, ULONG i);

    LPSPropValue Values() const { return values; }

  private:
    LPSPropValue values;
    ULONG count;
};

class MapiObject : public MapiBase {
  public:
    // Takes over the caller's one reference.
    explicit MapiObject(IUnknown* object) : object(object) {}
    ~MapiObject();
    MapiObject(const MapiObject&) = delete;
    MapiObject& operator=(const MapiObject&) = delete;

    // On a store: opens the entry, which must be a folder (else ERR_WRONG_OBJECT_TYPE).
    std::unique_ptr<MapiObject> OpenFolder(const char* entryIdHex, ULONG flags);
    std::unique_ptr<MapiObject> OpenEntry(const char* entryIdHex, ULONG flags, ULONG requiredType);
    std::unique_ptr<MapiPropSet> GetProps(LPSPropTagArray tagArray);
    void SetProps(const MapiPropSet& propSet);
    void SaveChanges(ULONG flags);

  private:
    IMAPIProp* Prop() const { return static_cast<IMAPIProp*>(object); }

    IUnknown* object;
};
