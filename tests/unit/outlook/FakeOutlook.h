#pragma once
// In-test automation objects that behave like a strict type-library IDispatch: exact flags,
// argument counts and types, IID_NULL and locale 0. They count references (objects live in
// the world's arena and are never freed, so a release too many shows instead of crashing),
// record every call, and can be told to fail or misbehave per object and member.
#include <windows.h>

#include <oleauto.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fake {

enum class Kind { Application, Namespace, FolderCollection, Folder, ItemCollection, Item, Form };

enum class Misbehaviour {
    Fail,       // Invoke returns the HRESULT
    Exception,  // DISP_E_EXCEPTION with the HRESULT as scode and a description
    WCodeOnly,  // DISP_E_EXCEPTION with wCode 7 and no scode
    NullResult, // a null object or a null BSTR
    OddType,    // a result of another variant type (Behaviour::odd)
};

struct Behaviour {
    Misbehaviour what = Misbehaviour::Fail;
    HRESULT result = E_FAIL;
    VARIANT odd = {}; // for OddType; owned by the world (cleared at its end)
    long index = 0;   // when not 0, only calls with this VT_I4 argument misbehave
    int times = 0;    // when not 0, only the first times calls misbehave
    mutable int seen = 0;
};

class World;

class Object : public IDispatch {
  public:
    Object(World& world, Kind kind, std::string name) : world(world), kind(kind), name(name) {}
    virtual ~Object() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

    World& world;
    Kind kind;
    std::string name;
    long references = 0;
    bool refusesDispatch = false; // QueryInterface for IDispatch gives E_NOINTERFACE
    HRESULT queryFailure = S_OK;  // any other QueryInterface failure

    Object* link = nullptr; // the application's namespace
    // Folder
    long defaultItemType = 3;
    Object* subfolders = nullptr;
    Object* items = nullptr;
    std::optional<std::wstring> entryId = std::wstring(L"00AA01");
    std::optional<std::wstring> storeId = std::wstring(L"0A0B0C0D");
    std::wstring defaultForm = L"IPM.Task"; // class of the form new items get
    bool newItemsRefuseDispatch = false;    // on an item collection: for Add
    HRESULT newItemQueryFailure = S_OK;
    // Collections
    std::vector<Object*> children;
    Object* owner = nullptr; // the folder an item collection belongs to
    // Item, form
    std::optional<std::wstring> messageClass;
    int saves = 0;
    int closes = 0;
    Object* form = nullptr;

  private:
    HRESULT Dispatch(const std::string& member, DISPPARAMS* parameters, VARIANT* result);
};

class World {
  public:
    World() = default;
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    ~World();

    Object* Make(Kind kind, const std::string& name);
    // A folder with its (empty) subfolder and item collections.
    Object* Folder(const std::string& name, long itemType = 3);
    // Appends a subfolder to a folder, or a folder to a folder collection.
    Object* AddFolder(Object* parent, const std::string& name, long itemType = 3);
    Object* AddItem(Object* folder, const std::string& name, const wchar_t* messageClass);
    Object* Collection(const std::string& name); // a top-level folder collection

    void Set(const std::string& object, const std::string& member, Behaviour behaviour);
    void Fail(const std::string& object, const std::string& member, HRESULT result = E_FAIL);
    const Behaviour* Find(const std::string& object, const std::string& member) const;

    // A new reference to hand over (as the walk's or the visitor's argument).
    static IDispatch* Hand(Object* object) {
        object->AddRef();
        return object;
    }

    long LiveReferences() const;
    std::string Leaks() const; // names of objects still referenced, for messages
    size_t CountCalls(const std::string& call) const;
    size_t CountCallsStartingWith(const std::string& prefix) const;

    std::vector<std::unique_ptr<Object>> objects;
    std::map<std::string, Behaviour> behaviours;
    std::vector<std::string> calls;      // "name.Member(args)" in call order
    std::vector<std::string> violations; // anything a strict server would refuse
    int itemsCreated = 0;
};

std::string Narrow(const std::wstring& text);

} // namespace fake
