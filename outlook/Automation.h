#pragma once
// Outlook's automation surface: counted references and one IDispatch::Invoke per member call.
// Every failure raises _com_error carrying the HRESULT.
#include <windows.h>

#include <comdef.h>
#include <oleauto.h>

#include <optional>
#include <string>

// One counted reference to an automation object, released exactly once by its owner.
class DispatchRef {
  public:
    DispatchRef() = default;
    // Takes over one reference that the caller already holds.
    explicit DispatchRef(IDispatch* owned) noexcept : object(owned) {}
    DispatchRef(DispatchRef&& other) noexcept : object(other.object) { other.object = nullptr; }
    DispatchRef& operator=(DispatchRef&& other) noexcept;
    DispatchRef(const DispatchRef&) = delete;
    DispatchRef& operator=(const DispatchRef&) = delete;
    ~DispatchRef() { Release(); }

    IDispatch* Get() const { return object; }
    bool IsNull() const { return object == nullptr; }
    // A second reference of its own to the same object (null stays null).
    DispatchRef NewReference() const;
    void Release() noexcept;

  private:
    IDispatch* object = nullptr;
};

// A VARIANT cleared when it goes out of scope.
class Variant {
  public:
    Variant() { VariantInit(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value); }
    // Clears now; a failure raises.
    void Clear();
    VARIANT value;
};

// A BSTR owned and freed once.
class Bstr {
  public:
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text); }
    BSTR Get() const { return text; }
    bool IsNull() const { return text == nullptr; }
    // Holds the narrow (CP_ACP) text converted; raises when it cannot be allocated.
    void Assign(const char* narrow);

  private:
    BSTR text = nullptr;
};

// A one-dimensional array of texts as automation passes one: a VARIANT of
// VT_ARRAY | VT_VARIANT whose elements are VT_BSTR, freed with its strings.
class TextArray {
  public:
    // Raises E_OUTOFMEMORY when the array or a text cannot be allocated.
    TextArray(const char* const* texts, ULONG count);
    Variant variant;
};

// The longest any one call to Outlook took, busy answers and their retries included, since
// the last reset; a dialog in Outlook (its programmatic-access prompt, say) holds the call.
struct CallTimes {
    DWORD longestMs = 0;
    DISPID longestMember = 0;
};
extern CallTimes OutlookCallTimes;

// Raises the automation error for a failed call.
[[noreturn]] void RaiseComError(HRESULT result);

// Narrow (CP_ACP) text to a new BSTR; raises E_OUTOFMEMORY when it cannot be allocated.
BSTR NarrowToBstr(const char* text);
// BSTR to narrow (CP_ACP) text; a null BSTR gives no string.
std::optional<std::string> BstrToNarrow(BSTR text);

// Creation of the application object: CoCreateInstance for IUnknown, OleRun, then IDispatch.
// Returns the first failing HRESULT, else QueryInterface's. Starts Outlook when it is not running.
HRESULT CreateOutlookApplication(DispatchRef& application);
// The application object of an Outlook already running, from the running object table
// (GetActiveObject), then IDispatch; starts nothing. MK_E_UNAVAILABLE when none is running.
HRESULT AttachToRunningOutlook(DispatchRef& application);

// The object's IDispatch interface; null when the object is null or has none (E_NOINTERFACE).
DispatchRef QueryDispatch(const DispatchRef& object);

// The members, each one IDispatch::Invoke (IID_NULL, locale 0).
DispatchRef GetObjectProperty(const DispatchRef& object, DISPID member);
long GetLongProperty(const DispatchRef& object, DISPID member);
std::optional<std::string> GetStringProperty(const DispatchRef& object, DISPID member);
void PutStringProperty(const DispatchRef& object, DISPID member, const char* value);
void PutStringProperty(const DispatchRef& object, DISPID member, const Bstr& value);
// Whether the string property, converted to narrow text, is exactly expected (whole string,
// case-sensitive); no string at all never is.
bool StringPropertyEquals(const DispatchRef& object, DISPID member, const char* expected);
// A method with the given arguments, in their natural order, returning an object.
DispatchRef CallObjectMethod(const DispatchRef& object, DISPID member, VARIANT* arguments,
                             UINT argumentCount);
// A method with the given arguments and no result.
void CallMethod(const DispatchRef& object, DISPID member, VARIANT* arguments, UINT argumentCount);
// A method whose result is taken as it comes, of whatever type.
void CallMethodForValue(const DispatchRef& object, DISPID member, VARIANT* arguments,
                        UINT argumentCount, Variant& result);
