#pragma once
// Inside the Outlook stand-in: its automation objects, the application, its "MAPI" namespace,
// folders, items and form descriptions of the sandbox profile, through IDispatch alone, as the
// documented object model has them:
//   - Folders.Item and Items.Item take an index from 1 to Count, or a text matched against
//     the folder's name or the item's subject; anything else fails.
//   - Items.Add takes an item type (OlItemType) or a message class, or nothing for the
//     folder's default form. The new item stays out of the folder until it is saved; Close
//     with olDiscard, or letting it go, leaves nothing behind.
//   - A MessageClass written to an item is the item's until Save (or Close with olSave) puts
//     it in the store; another reference to the same item still reads the stored class.
//   - A property is read only with DISPATCH_PROPERTYGET, a method called only with
//     DISPATCH_METHOD (both may be set), a put only with its named DISPID_PROPERTYPUT
//     argument; arguments are coerced to the declared type as type-library dispatch does.
//   - A failed call answers DISP_E_EXCEPTION with the HRESULT in the exception and no result.
//
// Every call goes to the record C:\sandbox\log\outlook.log with the object, member, flags,
// arguments and result; so do references released once too often, and the number of live
// objects whenever the application's last reference goes. Released objects are kept, not
// freed, so that a release too many is recorded rather than crashing (with SANDBOX_BENCH=1
// they are freed and nothing is recorded).
//
// The profile's fault table: "fail OBJECT MEMBER" fails the member (an automation exception
// carrying the HRESULT); MEMBER "IDispatch" makes the object refuse IDispatch, object
// "outlook" member "Create" fails the creation; "answer" hands back a null string or object,
// a value of another type, or the object as IUnknown; "close" closes the server during the
// call (in-process: this and every later call fails with RPC_E_DISCONNECTED, as a
// disconnected object does; out of process: the server's process ends); "busy" rejects calls
// for a while, uncounted. A folder with access=no fails every member with E_ACCESSDENIED.
// The calls count towards SANDBOX_FAIL_CALL="outlook:K" (Profile.h); out of process COM's
// proxy answers the client's QueryInterface, so that is no call of the stand-in there.
//
// Object names: "outlook", "namespace", "namespace.Folders", a store's name for its root
// folder, a folder's path, PATH.Folders, PATH.Items and PATH.PropertyAccessor for its
// collections and property accessor, an item's path ("Store/Folder#N"; a new item is named by
// the index it would have once saved), ITEM.FormDescription for an item's form.
//
// MemberTable.cpp: the members and the checking of a call's flags and arguments;
// Dispatch.cpp: references, Invoke with its faults and records, the class factory;
// FoldersAndItems.cpp: what the folders, items and collections do; PropertyAccessor.cpp: a
// folder's PropertyAccessor (what it serves is described there).
#include "sandbox/outlook/Objects.h"

#include <oaidl.h>

#include <string>
#include <vector>

namespace standin {

enum class Kind {
    Application,
    Namespace,
    Stores,
    Folder,
    Folders,
    Items,
    Item,
    Form,
    PropertyAccessor
};

enum Access : WORD {
    Get = DISPATCH_PROPERTYGET,
    Method = DISPATCH_METHOD,
    Put = DISPATCH_PROPERTYPUT
};

// What a member takes: nothing, text, a number, an index (a number or a name), an item type
// (a number or a message class), or a value of any type (a reference is taken as what it
// points to).
enum class Argument { None, Text, Number, Index, ItemType, Value };
// What it gives back.
enum class Result { None, Text, Number, Object, Value };

struct Member {
    Kind kind;
    DISPID id;
    Access access;
    const char* name;
    Argument argument;
    bool optional; // the (last) argument may be left out
    Result result;
    Argument second = Argument::None; // a method's second argument
};

// What Outlook answers for a name that matches nothing (MAPI_E_NOT_FOUND).
const HRESULT NotFound = HRESULT(0x8004010F);

// The class of an OlItemType 0 to 7, as Items.Add gives it; null for any other number.
const char* ItemTypeClass(long type);

// A null BSTR is the empty string.
std::string Narrow(BSTR text);
BSTR Wide(const std::string& text);
// An argument as the record shows it.
std::string DescribeArgument(const VARIANT& argument);

// VARIANTs owned together, each cleared once when the list goes (PropertyAccessor.cpp).
class VariantList {
  public:
    VariantList() = default;
    VariantList(const VariantList&) = delete;
    VariantList& operator=(const VariantList&) = delete;
    ~VariantList();
    // The elements of a one-dimensional array of VARIANTs or BSTRs, each as a VARIANT of its
    // own; false, holding nothing, for any other value.
    bool Read(const VARIANT& array);
    // Takes the value over, leaving it empty.
    void Add(VARIANT* value);
    size_t Count() const { return values.size(); }
    const VARIANT& operator[](size_t n) const { return values[n]; }
    // A copy as VT_ARRAY | VT_VARIANT, from index 0; false when no array could be made.
    bool Return(VARIANT* result) const;

  private:
    std::vector<VARIANT> values;
};

class Object : public IDispatch {
  public:
    Object(Kind kind, int handle, std::string name);
    virtual ~Object();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

    Kind kind;
    int handle; // the folder or item; 0 for a store's root folder and its collections, and
                // for an item not yet saved
    std::string name;
    int store = 0;            // for a store's root folder and its collections
    int newItemFolder = 0;    // an item made by Add and not yet saved: its folder
    std::string newItemClass; // and the class it was made with
    bool pending = false;     // a MessageClass written and not yet saved
    std::string pendingClass; //
    std::string formClass;    // a form description's class
    // Never counted among the live objects (RunningApplication); its last release unrecorded.
    void Pin();

  private:
    HRESULT Busy();
    // arguments: the member's two, in their natural order (VT_EMPTY where none is given).
    HRESULT Check(DISPID id, WORD flags, DISPPARAMS* parameters, UINT* argumentError,
                  const Member** found, VARIANT* arguments);
    HRESULT Perform(const Member& member, VARIANT* arguments, VARIANT* result);
    HRESULT PerformAccessor(const Member& member, VARIANT* arguments, VARIANT* result);
    HRESULT PerformItem(const Member& member, VARIANT* argument, VARIANT* result);
    HRESULT Fetch(VARIANT* argument, VARIANT* result);
    std::string CurrentClass() const;
    void SaveItem();

    LONG references = 0;
    bool counted = true;
    bool pinned = false;
};

Object* NewObject(Kind kind, int handle, const std::string& name);
Object* FolderObject(int folder);
Object* RootObject(int store);

// Results; whoever receives an object owns one reference.
void ReturnObject(VARIANT* result, Object* object);
void ReturnString(VARIANT* result, const std::string& text);
void ReturnLong(VARIANT* result, long value);

} // namespace standin
