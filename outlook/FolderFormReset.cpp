#include "outlook/FolderFormReset.h"

#include "platform/Outlook.h"

#include <shlwapi.h>

#include <cstdarg>
#include <optional>

namespace {

// The two default-form properties, as PropertyAccessor names them (PT_STRING8 tags).
const char* const schemaNames[] = {"http://schemas.microsoft.com/mapi/proptag/0x36E5001E",
                                   "http://schemas.microsoft.com/mapi/proptag/0x36E6001E"};
const char* const propertyNames[] = {"PR_DEF_POST_MSGCLASS", "PR_DEF_POST_DISPLAYNAME"};
const ULONG propertyCount = 2;

// why, formatted (bounded, with the Win32 formatter the log uses); false, for the caller to
// return.
bool Refused(std::string& why, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool Refused(std::string& why, const char* format, ...) {
    char text[600];
    va_list arguments;
    va_start(arguments, format);
    wvnsprintfA(text, int(sizeof text), format, arguments);
    va_end(arguments);
    why = text;
    return false;
}

unsigned long Code(const VARIANT& value) {
    return value.vt == VT_ERROR ? static_cast<unsigned long>(value.scode) : 0;
}

// The elements of a one-dimensional array result, each as given; null for anything else.
class ArrayElements {
  public:
    explicit ArrayElements(const VARIANT& value) {
        if (value.vt != (VT_ARRAY | VT_VARIANT) || value.parray == nullptr ||
            SafeArrayGetDim(value.parray) != 1)
            return;
        LONG lower = 0, upper = -1;
        if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(value.parray, 1, &upper)) ||
            FAILED(SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&data))))
            return;
        array = value.parray;
        count = ULONG(upper - lower + 1);
    }
    ~ArrayElements() {
        if (array != nullptr)
            SafeArrayUnaccessData(array);
    }
    ArrayElements(const ArrayElements&) = delete;
    ArrayElements& operator=(const ArrayElements&) = delete;

    // Element i, or null when there is no such element.
    const VARIANT* At(ULONG i) const { return array != nullptr && i < count ? &data[i] : nullptr; }
    ULONG Count() const { return array != nullptr ? count : 0; }

  private:
    SAFEARRAY* array = nullptr;
    VARIANT* data = nullptr;
    ULONG count = 0;
};

// The folder's default form as read, or why it could not be.
bool ReadDefaultForm(const ArrayElements& values, std::string (&texts)[propertyCount],
                     std::string& why) {
    if (values.Count() != propertyCount)
        return Refused(why, "GetProperties did not answer with both properties");
    for (ULONG i = 0; i < propertyCount; ++i) {
        const VARIANT* value = values.At(i);
        std::optional<std::string> text;
        if (value->vt == VT_BSTR)
            text = BstrToNarrow(value->bstrVal);
        if (!text)
            return Refused(why, "its %s could not be read (type %u, error 0x%08lX)",
                           propertyNames[i], unsigned(value->vt), Code(*value));
        texts[i] = *text;
    }
    return true;
}

// Whether an element of SetProperties's answer says its property was set: Outlook leaves it
// empty (or an error of success); any other value is taken for the failure it does not name.
bool ElementSet(const VARIANT& element) {
    return element.vt == VT_EMPTY || element.vt == VT_NULL ||
           (element.vt == VT_ERROR && SUCCEEDED(element.scode));
}

// What SetProperties answered, when it was not the empty value of success: each property it did
// not set, with its error, and a folder left half reset, the one set and the other not.
bool SetPropertiesRefused(const VARIANT& answer, std::string& why) {
    ArrayElements errors(answer);
    if (errors.Count() != propertyCount)
        return Refused(why, "SetProperties answered a value of type %u (error 0x%08lX)",
                       unsigned(answer.vt), Code(answer));
    char text[600] = "SetProperties did not set";
    bool set[propertyCount];
    bool first = true;
    for (ULONG i = 0; i < propertyCount; ++i) {
        const VARIANT* error = errors.At(i);
        set[i] = ElementSet(*error);
        if (set[i])
            continue;
        size_t used = lstrlenA(text);
        if (error->vt == VT_ERROR)
            wnsprintfA(text + used, int(sizeof text - used), "%s its %s (error 0x%08lX)",
                       first ? "" : " nor", propertyNames[i], Code(*error));
        else
            wnsprintfA(text + used, int(sizeof text - used), "%s its %s (a value of type %u)",
                       first ? "" : " nor", propertyNames[i], unsigned(error->vt));
        first = false;
    }
    if (first)
        return Refused(why, "SetProperties answered with an array of errors, each of success");
    if (set[0] != set[1]) {
        const int done = set[0] ? 0 : 1;
        size_t used = lstrlenA(text);
        wnsprintfA(text + used, int(sizeof text - used),
                   ", but set its %s: the folder is left half reset, for a person to finish",
                   propertyNames[done]);
    }
    return Refused(why, "%s", text);
}

} // namespace

bool ResetDefaultFormThroughOutlook(const DispatchRef& folder, const char* expectedClass,
                                    const char* expectedName, const char* newClass,
                                    const char* newName, std::string& why) {
    const char* step = "Folder.PropertyAccessor";
    try {
        DispatchRef accessor = GetObjectProperty(folder, OutlookDispId::PropertyAccessor);
        if (accessor.IsNull())
            RaiseComError(E_POINTER);
        TextArray names(schemaNames, propertyCount);
        std::string current[propertyCount];
        {
            step = "PropertyAccessor.GetProperties";
            Variant values;
            CallMethodForValue(accessor, OutlookDispId::GetProperties, &names.variant.value, 1,
                               values);
            if (!ReadDefaultForm(ArrayElements(values.value), current, why))
                return false;
        }
        if (current[0] != expectedClass || current[1] != expectedName)
            return Refused(why, "its default form is \"%.200s\", \"%.200s\", not \"%s\", \"%s\"",
                           current[0].c_str(), current[1].c_str(), expectedClass, expectedName);
        const char* const newValues[] = {newClass, newName};
        TextArray values(newValues, propertyCount);
        step = "PropertyAccessor.SetProperties";
        VARIANT arguments[] = {names.variant.value, values.variant.value};
        Variant answer;
        CallMethodForValue(accessor, OutlookDispId::SetProperties, arguments, 2, answer);
        if (answer.value.vt == VT_EMPTY || answer.value.vt == VT_NULL)
            return true;
        return SetPropertiesRefused(answer.value, why);
    } catch (const _com_error& error) {
        return Refused(why, "%s failed (error 0x%08lX)", step,
                       static_cast<unsigned long>(error.Error()));
    } catch (...) {
        return Refused(why, "%s could not be made", step);
    }
}
