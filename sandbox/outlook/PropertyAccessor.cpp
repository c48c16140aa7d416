// A folder's PropertyAccessor, as Outlook's object model documents it, over the folder's string
// properties in the profile: the same state that MAPI32's stand-in reads and writes.
//   - A property is named "http://schemas.microsoft.com/mapi/proptag/0xHHHHHHHH" (eight hex
//     digits, either case); any other name is an error for that property
//     (MAPI_E_INVALID_PARAMETER). Only string tags are served, PT_STRING8 and PT_UNICODE alike
//     (both are kept under the PT_STRING8 tag, where MAPI reads them); values travel as
//     VT_BSTR, any other type is DISP_E_TYPEMISMATCH for that property.
//   - GetProperty raises MAPI_E_NOT_FOUND for a property the folder lacks; SetProperty raises
//     the property's error.
//   - GetProperties takes an array of names and answers VT_ARRAY | VT_VARIANT with one element
//     for each: the value, or VT_ERROR with the property's error; anything but an array of
//     names raises E_INVALIDARG.
//   - SetProperties takes an array of names and one of values. It answers VT_EMPTY when every
//     property was set; VT_ERROR (E_INVALIDARG) when nothing could be set (no arrays, counts
//     that differ); otherwise VT_ARRAY | VT_VARIANT, one element for each name: VT_EMPTY where
//     it was set, as Outlook answers, else VT_ERROR with the failure. The properties that could
//     be set are set.
//   - A folder has no Save: whatever is set is stored at once.
//   - PR_DEF_POST_MSGCLASS takes only the class of the folder's item type (IPM.Task for a
//     task folder) or one that begins with it and a dot; any other is MAPI_E_INVALID_PARAMETER.
//   - A store's root folder holds none of the profile's properties and takes none
//     (MAPI_E_NO_SUPPORT).
// Arrays are one-dimensional SAFEARRAYs of VARIANTs or of BSTRs, or references to them.
// The fault table names the calls "PATH.PropertyAccessor" GetProperty, SetProperty,
// GetProperties and SetProperties; "fail PATH.PropertyAccessor SetProperties:0xHHHHHHHH K|*
// [HRESULT]" fails setting just that property (the tag as the name gives it), within
// SetProperties, and the others are set.
#include "sandbox/outlook/ObjectModel.h"

#include "sandbox/profile/Profile.h"

#include <cstdio>

namespace standin {

namespace {

const char SchemaPrefix[] = "http://schemas.microsoft.com/mapi/proptag/0x";
const unsigned long PropertyTypeString8 = 0x001E;     // PT_STRING8
const unsigned long PropertyTypeUnicode = 0x001F;     // PT_UNICODE
const unsigned long DefPostMsgClassId = 0x36E5;       // PR_DEF_POST_MSGCLASS's property id
const HRESULT InvalidParameter = HRESULT(0x80070057); // MAPI_E_INVALID_PARAMETER
const HRESULT NoSupport = HRESULT(0x80040102);        // MAPI_E_NO_SUPPORT

// The tag that a schema name gives; false when it is none.
bool ParseTag(const VARIANT& name, unsigned long* tag) {
    if (name.vt != VT_BSTR)
        return false;
    std::string text = Narrow(name.bstrVal);
    const size_t prefix = sizeof SchemaPrefix - 1;
    if (text.size() != prefix + 8 || text.compare(0, prefix, SchemaPrefix) != 0)
        return false;
    unsigned long value = 0;
    for (size_t n = prefix; n < text.size(); ++n) {
        char c = text[n];
        unsigned long digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : 16;
        if (digit == 16)
            return false;
        value = value << 4 | digit;
    }
    *tag = value;
    return true;
}

bool IsString(unsigned long tag) {
    return (tag & 0xFFFF) == PropertyTypeString8 || (tag & 0xFFFF) == PropertyTypeUnicode;
}

// The tag the profile keeps a string property under.
unsigned long StoredTag(unsigned long tag) {
    return (tag & 0xFFFF0000) | PropertyTypeString8;
}

char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Message classes compare without regard to letter case.
bool SameClass(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t n = 0; n < a.size(); ++n)
        if (Folded(a[n]) != Folded(b[n]))
            return false;
    return true;
}

// A folder's default class is its item type's class or one derived from it.
bool FitsFolder(int folder, const std::string& messageClass) {
    const char* base = ItemTypeClass(sandbox::FolderItemType(folder));
    if (base == nullptr)
        return false;
    std::string root = base;
    return SameClass(messageClass, root) ||
           (messageClass.size() > root.size() && messageClass[root.size()] == '.' &&
            SameClass(messageClass.substr(0, root.size()), root));
}

HRESULT GetOne(int folder, const VARIANT& name, VARIANT* value) {
    unsigned long tag = 0;
    if (!ParseTag(name, &tag))
        return InvalidParameter;
    std::string text;
    if (!IsString(tag) || folder == 0 || !sandbox::GetFolderProp(folder, StoredTag(tag), &text))
        return NotFound;
    value->vt = VT_BSTR;
    value->bstrVal = Wide(text);
    return S_OK;
}

// Whether the value may be set; the tag as named and the text to store.
HRESULT CheckSet(int folder, const VARIANT& name, const VARIANT& value, unsigned long* tag,
                 std::string* text) {
    if (!ParseTag(name, tag))
        return InvalidParameter;
    if (!IsString(*tag) || folder == 0)
        return NoSupport;
    if (value.vt != VT_BSTR)
        return DISP_E_TYPEMISMATCH;
    *text = Narrow(value.bstrVal);
    if ((*tag >> 16) == DefPostMsgClassId && !FitsFolder(folder, *text))
        return InvalidParameter;
    return S_OK;
}

VARIANT Error(HRESULT code) {
    VARIANT error;
    VariantInit(&error);
    error.vt = VT_ERROR;
    error.scode = code;
    return error;
}

} // namespace

VariantList::~VariantList() {
    for (VARIANT& value : values)
        VariantClear(&value);
}

bool VariantList::Read(const VARIANT& array) {
    VARTYPE type = array.vt & ~VT_ARRAY;
    if ((array.vt & VT_ARRAY) == 0 || (type != VT_VARIANT && type != VT_BSTR) ||
        array.parray == nullptr || SafeArrayGetDim(array.parray) != 1)
        return false;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array.parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array.parray, 1, &upper)))
        return false;
    for (LONG n = lower; n <= upper; ++n) {
        VARIANT element;
        VariantInit(&element);
        HRESULT got = S_OK;
        if (type == VT_VARIANT) {
            got = SafeArrayGetElement(array.parray, &n, &element);
            if (SUCCEEDED(got) && (element.vt & VT_BYREF) != 0) {
                VARIANT target;
                VariantInit(&target);
                got = VariantCopyInd(&target, &element);
                VariantClear(&element); // a reference owns nothing
                element = target;
            }
        } else {
            BSTR text = nullptr;
            got = SafeArrayGetElement(array.parray, &n, &text);
            element.vt = VT_BSTR;
            element.bstrVal = text;
        }
        if (FAILED(got)) {
            VariantClear(&element);
            for (VARIANT& value : values)
                VariantClear(&value);
            values.clear();
            return false;
        }
        Add(&element);
    }
    return true;
}

void VariantList::Add(VARIANT* value) {
    values.push_back(*value);
    VariantInit(value);
}

bool VariantList::Return(VARIANT* result) const {
    if (result == nullptr)
        return true;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(values.size()));
    if (array == nullptr)
        return false;
    for (LONG n = 0; n < LONG(values.size()); ++n) {
        if (FAILED(SafeArrayPutElement(array, &n, const_cast<VARIANT*>(&values[size_t(n)])))) {
            SafeArrayDestroy(array);
            return false;
        }
    }
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array;
    return true;
}

HRESULT Object::PerformAccessor(const Member& member, VARIANT* arguments, VARIANT* result) {
    std::string what = member.name;
    if (what == "GetProperty") {
        VARIANT value;
        VariantInit(&value);
        HRESULT got = GetOne(handle, arguments[0], &value);
        if (SUCCEEDED(got) && result != nullptr)
            *result = value;
        else
            VariantClear(&value);
        return got;
    }
    unsigned long tag = 0;
    std::string text;
    if (what == "SetProperty") {
        HRESULT checked = CheckSet(handle, arguments[0], arguments[1], &tag, &text);
        if (SUCCEEDED(checked))
            sandbox::SetFolderProp(handle, StoredTag(tag), text);
        return checked;
    }
    VariantList names, values;
    if (what == "GetProperties") {
        if (!names.Read(arguments[0]))
            return E_INVALIDARG;
        for (size_t n = 0; n < names.Count(); ++n) {
            VARIANT value;
            VariantInit(&value);
            HRESULT got = GetOne(handle, names[n], &value);
            if (FAILED(got))
                value = Error(got);
            values.Add(&value);
        }
        return values.Return(result) ? S_OK : E_OUTOFMEMORY;
    }
    // SetProperties: an error before any property is set is answered, not raised.
    if (!names.Read(arguments[0]) || !values.Read(arguments[1]) ||
        names.Count() != values.Count()) {
        if (result != nullptr)
            *result = Error(E_INVALIDARG);
        return S_OK;
    }
    VariantList errors;
    bool failed = false;
    for (size_t n = 0; n < names.Count(); ++n) {
        tag = 0;
        HRESULT set = CheckSet(handle, names[n], values[n], &tag, &text);
        char fault[48];
        snprintf(fault, sizeof fault, "SetProperties:0x%08lX", tag);
        long injected = 0;
        sandbox::FaultKind how = sandbox::FaultKind::Fail;
        if (SUCCEEDED(set) && sandbox::ShouldFail(name, fault, &injected, &how) &&
            how == sandbox::FaultKind::Fail)
            set = HRESULT(injected);
        if (SUCCEEDED(set))
            sandbox::SetFolderProp(handle, StoredTag(tag), text);
        failed = failed || FAILED(set);
        VARIANT error = Error(set);
        if (SUCCEEDED(set))
            VariantInit(&error);
        errors.Add(&error);
    }
    if (failed && !errors.Return(result))
        return E_OUTOFMEMORY;
    return S_OK;
}

} // namespace standin
