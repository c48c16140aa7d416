// The shared sandbox profile: reading the text format, the folder tree, items, faults and the
// written-back state, and one state with the Outlook stand-in's local server.
#include "sandbox/profile/Profile.h"
#include "platform/Outlook.h"
#include "tests/support/SandboxState.h"
#include "tests/unit/mapi/MapiFixture.h"

#include <doctest.h>

#include <ole2.h>

using namespace sandbox;

namespace {

const char* const Text = R"(# a comment
store "Personal Folders" id=0A0B
  folder Tasks type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax" saved=2 subject="Call \"Bob\""
    item IPM.Task
    folder "Old tasks" type=3 access=no   # trailing comment
  folder Inbox
store Archive
  folder Tasks type=3 opens=message
fail session OpenMsgStore 2
fail "Personal Folders/Tasks" SaveChanges * 0x8004010F
)";

// Loads the profile above once per process (the DLL reads it on first use).
void Load() {
    static bool written = false;
    if (written)
        return;
    mapitest::WriteFileText("C:\\sandbox\\test-profile.txt", Text);
    SetEnvironmentVariableA("SANDBOX_PROFILE", "C:\\sandbox\\test-profile.txt");
    written = true;
}

int FolderNamed(const std::vector<int>& folders, const std::string& name) {
    for (int folder : folders)
        if (FolderName(folder) == name)
            return folder;
    return 0;
}

} // namespace

TEST_CASE("stores and the folder tree follow the indentation") {
    Load();
    REQUIRE(Stores().size() == 2);
    int personal = Stores()[0];
    int archive = Stores()[1];
    CHECK(StoreName(personal) == "Personal Folders");
    CHECK(StoreId(personal) == Bytes{0x0A, 0x0B});
    CHECK(FindStore(StoreId(archive).data(), StoreId(archive).size()) == archive);
    CHECK(StoreId(archive) != StoreId(personal));

    std::vector<int> top = StoreFolders(personal);
    REQUIRE(top.size() == 2);
    int tasks = FolderNamed(top, "Tasks");
    int inbox = FolderNamed(top, "Inbox");
    REQUIRE(tasks != 0);
    CHECK(FolderItemType(tasks) == 3);
    CHECK(FolderItemType(inbox) == 0);
    CHECK(FolderParent(tasks) == 0);
    CHECK(FolderStore(tasks) == personal);
    REQUIRE(FolderChildren(tasks).size() == 1);
    int old = FolderChildren(tasks)[0];
    CHECK(FolderPath(old) == "Personal Folders/Tasks/Old tasks");
    CHECK(FolderParent(old) == tasks);
    CHECK_FALSE(FolderAccessible(old));
    CHECK(FolderAccessible(tasks));
    CHECK(FolderChildren(inbox).empty());

    // Folder ids: explicit or made up, unique, found per store or across all.
    unsigned char id[] = {0x00, 0xAA, 0x01};
    CHECK(FindFolder(personal, id, sizeof id) == tasks);
    CHECK(FindFolder(archive, id, sizeof id) == 0);
    CHECK(FindFolder(0, id, sizeof id) == tasks);
    int archived = StoreFolders(archive)[0];
    CHECK(FolderOpensAsMessage(archived));
    CHECK_FALSE(FolderOpensAsMessage(tasks));
    CHECK(FolderEntryId(archived) != FolderEntryId(old));
    CHECK(FindFolder(0, FolderEntryId(old).data(), FolderEntryId(old).size()) == old);
}

TEST_CASE("default-form properties, absent unless given, decide new items' class") {
    Load();
    int tasks = StoreFolders(Stores()[0])[0];
    int inbox = StoreFolders(Stores()[0])[1];
    std::string value = "untouched";
    CHECK(GetFolderProp(tasks, TagDefPostDisplayName, &value));
    CHECK(value == "Plendrax");
    CHECK(NewItemClass(tasks) == "IPM.Task.Plendrax");
    value = "untouched";
    CHECK_FALSE(GetFolderProp(inbox, TagDefPostMsgClass, &value));
    CHECK(value == "untouched");
    CHECK(NewItemClass(inbox) == "IPM.Note");
    CHECK(NewItemClass(FolderChildren(tasks)[0]) == "IPM.Task");

    SetFolderProp(inbox, TagDefPostMsgClass, "IPM.Note.Custom");
    CHECK(NewItemClass(inbox) == "IPM.Note.Custom");
    RemoveFolderProp(inbox, TagDefPostMsgClass);
    CHECK(NewItemClass(inbox) == "IPM.Note");
}

TEST_CASE("items keep their order, paths and saved counts") {
    Load();
    int tasks = StoreFolders(Stores()[0])[0];
    std::vector<int> list = FolderItems(tasks);
    REQUIRE(list.size() == 2);
    CHECK(ItemClass(list[0]) == "IPM.Task.Plendrax");
    CHECK(ItemSubject(list[0]) == "Call \"Bob\"");
    CHECK(ItemSaveCount(list[0]) == 2);
    CHECK(ItemClass(list[1]) == "IPM.Task");
    CHECK(ItemPath(list[1]) == "Personal Folders/Tasks#2");

    int added = AddItem(tasks, "IPM.Task");
    CHECK(ItemPath(added) == "Personal Folders/Tasks#3");
    CHECK(ItemFolder(added) == tasks);
    RemoveItem(added);
    CHECK(FolderItems(tasks) == list);
    CHECK(ItemFolder(added) == 0);

    SetItemClass(list[0], "IPM.Task");
    ItemSaved(list[0]);
    CHECK(ItemSaveCount(list[0]) == 3);
    SetItemClass(list[0], "IPM.Task.Plendrax");
}

TEST_CASE("faults hit the named call or every call") {
    Load();
    long result = 0;
    CHECK_FALSE(ShouldFail("session", "OpenMsgStore", &result));
    CHECK(ShouldFail("session", "OpenMsgStore", &result));
    CHECK(result == long(0x80004005));
    CHECK_FALSE(ShouldFail("session", "OpenMsgStore", &result));
    CHECK_FALSE(ShouldFail("session", "Logoff"));

    for (int call = 0; call < 3; ++call) {
        CHECK(ShouldFail("Personal Folders/Tasks", "SaveChanges", &result));
        CHECK(result == long(0x8004010F));
    }
    CHECK_FALSE(ShouldFail("Personal Folders/Inbox", "SaveChanges"));

    ShouldFail("x", "Y");
    AddFault("x", "Y", 2, 7);
    CHECK(ShouldFail("x", "Y", &result));
    CHECK(result == 7);
}

TEST_CASE("the written-back state reads as the same profile") {
    Load();
    int tasks = StoreFolders(Stores()[0])[0];
    SetFolderProp(tasks, TagDefPostMsgClass, "IPM.Task");
    FlushProfile();
    std::string out = mapitest::ProfileOut();
    CHECK(out.find("store \"Personal Folders\" id=0A0B\r\n") != std::string::npos);
    CHECK(out.find("  folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" "
                   "displayname=\"Plendrax\"\r\n") != std::string::npos);
    CHECK(out.find("    item \"IPM.Task.Plendrax\" saved=3 subject=\"Call \\\"Bob\\\"\"\r\n") !=
          std::string::npos);
    CHECK(out.find("    folder \"Old tasks\" type=3 id=") != std::string::npos);
    CHECK(out.find(" access=no\r\n") != std::string::npos);
    CHECK(out.find("opens=message") != std::string::npos);
    CHECK(out.find("fail \"Personal Folders/Tasks\" \"SaveChanges\" * 0x8004010F\r\n") !=
          std::string::npos);
    CHECK(HexText(StoreId(Stores()[0]).data(), 2) == "0A0B");
}

namespace {

// One automation call; arguments in their natural order. The result is the caller's to clear.
HRESULT Call(IDispatch* object, DISPID member, WORD flags, VARIANT* result,
             std::vector<VARIANT> arguments = {}) {
    REQUIRE(object != nullptr);
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    bool named = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS parameters = {reversed.empty() ? nullptr : reversed.data(), named ? &put : nullptr,
                             UINT(reversed.size()), named ? 1u : 0u};
    EXCEPINFO exception = {};
    VariantInit(result);
    HRESULT hr =
        object->Invoke(member, IID_NULL, 0, flags, &parameters, result, &exception, nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return hr == DISP_E_EXCEPTION ? exception.scode : hr;
}

IDispatch* Object(IDispatch* object, DISPID member, WORD flags, long index = 0) {
    VARIANT result, argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = index;
    std::vector<VARIANT> arguments;
    if (index != 0)
        arguments.push_back(argument);
    CHECK(Call(object, member, flags, &result, arguments) == S_OK);
    REQUIRE(result.vt == VT_DISPATCH);
    return result.pdispVal;
}

std::wstring TextOf(IDispatch* object, DISPID member) {
    VARIANT result;
    if (Call(object, member, DISPATCH_PROPERTYGET, &result) != S_OK || result.vt != VT_BSTR)
        return L"<failed>";
    std::wstring text(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    return text;
}

// A VT_ARRAY | VT_VARIANT of texts; the caller clears it.
VARIANT Texts(std::initializer_list<const wchar_t*> texts) {
    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_VARIANT;
    array.parray = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(texts.size()));
    REQUIRE(array.parray != nullptr);
    LONG n = 0;
    for (const wchar_t* text : texts) {
        VARIANT element;
        VariantInit(&element);
        element.vt = VT_BSTR;
        element.bstrVal = SysAllocString(text);
        CHECK(SafeArrayPutElement(array.parray, &n, &element) == S_OK);
        VariantClear(&element);
        ++n;
    }
    return array;
}

} // namespace

TEST_CASE("one state with the Outlook stand-in's local server, both ways") {
    Load();
    int tasks = StoreFolders(Stores()[0])[0];
    std::vector<int> list = FolderItems(tasks);
    int savedBefore = ItemSaveCount(list[1]);
    RegisterOutlookStandin(OutlookServer::Local);
    DeleteFileA("C:\\sandbox\\log\\outlook.log");
    DeleteFileA("C:\\sandbox\\log\\calls.log");
    REQUIRE(CoInitialize(nullptr) == S_OK);
    IDispatch* application = nullptr;
    REQUIRE(CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext, IID_IDispatch,
                             reinterpret_cast<void**>(&application)) == S_OK);
    // Changed here, seen by the server: a folder's default form, a fault.
    SetFolderProp(tasks, TagDefPostMsgClass, "IPM.Task.Shared");
    AddFault("Personal Folders/Tasks", "StoreID", 1, long(0x80040107));
    VARIANT mapiName, result;
    VariantInit(&mapiName);
    mapiName.vt = VT_BSTR;
    mapiName.bstrVal = SysAllocString(L"MAPI");
    REQUIRE(Call(application, OutlookDispId::GetNamespace, DISPATCH_METHOD, &result, {mapiName}) ==
            S_OK);
    IDispatch* mapi = result.pdispVal;
    IDispatch* stores = Object(mapi, OutlookDispId::Folders, DISPATCH_PROPERTYGET);
    IDispatch* store = Object(stores, OutlookDispId::Item, DISPATCH_METHOD, 1);
    IDispatch* folders = Object(store, OutlookDispId::Folders, DISPATCH_PROPERTYGET);
    IDispatch* folder = Object(folders, OutlookDispId::Item, DISPATCH_METHOD, 1);
    IDispatch* items = Object(folder, OutlookDispId::Items, DISPATCH_PROPERTYGET);
    IDispatch* created = Object(items, OutlookDispId::Add, DISPATCH_METHOD);
    IDispatch* form = Object(created, OutlookDispId::FormDescription, DISPATCH_PROPERTYGET);
    CHECK(TextOf(form, OutlookDispId::MessageClass) == L"IPM.Task.Shared");
    CHECK(Call(folder, OutlookDispId::StoreID, DISPATCH_PROPERTYGET, &result) ==
          HRESULT(0x80040107));
    // Changed by the server, seen here: a class saved, a new item saved into the folder.
    IDispatch* second = Object(items, OutlookDispId::Item, DISPATCH_METHOD, 2);
    VARIANT newClass;
    VariantInit(&newClass);
    newClass.vt = VT_BSTR;
    newClass.bstrVal = SysAllocString(L"IPM.Task.Changed");
    CHECK(Call(second, OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT, &result, {newClass}) ==
          S_OK);
    CHECK(ItemClass(list[1]) == "IPM.Task"); // written, not yet saved
    CHECK(Call(second, OutlookDispId::Save, DISPATCH_METHOD, &result) == S_OK);
    CHECK(ItemClass(list[1]) == "IPM.Task.Changed");
    CHECK(ItemSaveCount(list[1]) == savedBefore + 1);
    CHECK(Call(created, OutlookDispId::Save, DISPATCH_METHOD, &result) == S_OK);
    std::vector<int> now = FolderItems(tasks);
    REQUIRE(now.size() == list.size() + 1);
    CHECK(ItemClass(now.back()) == "IPM.Task.Shared");
    CHECK(ItemPath(now.back()) == "Personal Folders/Tasks#" + std::to_string(now.size()));
    // A folder's PropertyAccessor across the boundary: arrays marshal both ways, what is set
    // there is read here at once, what is set here is read there.
    IDispatch* accessor = Object(folder, OutlookDispId::PropertyAccessor, DISPATCH_PROPERTYGET);
    VARIANT names = Texts({L"http://schemas.microsoft.com/mapi/proptag/0x36E5001E",
                           L"http://schemas.microsoft.com/mapi/proptag/0x36E6001E"});
    VARIANT name = Texts({L"http://schemas.microsoft.com/mapi/proptag/0x36E6001E"});
    VARIANT value = Texts({L"Task"});
    CHECK(Call(accessor, OutlookDispId::SetProperties, DISPATCH_METHOD, &result, {name, value}) ==
          S_OK);
    CHECK(result.vt == VT_EMPTY);
    std::string displayName;
    CHECK(GetFolderProp(tasks, TagDefPostDisplayName, &displayName));
    CHECK(displayName == "Task");
    REQUIRE(Call(accessor, OutlookDispId::GetProperties, DISPATCH_METHOD, &result, {names}) ==
            S_OK);
    REQUIRE(result.vt == (VT_ARRAY | VT_VARIANT));
    VARIANT got[2];
    for (LONG n = 0; n < 2; ++n) {
        VariantInit(&got[n]);
        REQUIRE(SafeArrayGetElement(result.parray, &n, &got[n]) == S_OK);
    }
    CHECK(std::wstring(got[0].bstrVal) == L"IPM.Task.Shared");
    CHECK(std::wstring(got[1].bstrVal) == L"Task");
    for (VARIANT* owned : {&got[0], &got[1], &result, &names, &name, &value})
        VariantClear(owned);
    accessor->Release();
    SetFolderProp(tasks, TagDefPostDisplayName, "Plendrax");
    // The server's calls are numbered in the one count.
    std::vector<std::string> calls = ReadLines("C:\\sandbox\\log\\calls.log");
    REQUIRE_FALSE(calls.empty());
    CHECK(calls.back().find("outlook " + std::to_string(CallCount("outlook")) + " ") == 0);
    for (IDispatch* object :
         {second, form, created, items, folder, folders, store, stores, mapi, application})
        object->Release();
    SysFreeString(mapiName.bstrVal);
    SysFreeString(newClass.bstrVal);
    CoUninitialize();
    // With its last object gone the server ends, and the state written is the whole of it.
    CHECK(OutlookServersGone(5000));
    CHECK(OutlookServerProcesses().size() == 1);
    FlushProfile();
    std::string out = mapitest::ProfileOut();
    CHECK(out.find("msgclass=\"IPM.Task.Shared\"") != std::string::npos);
    CHECK(out.find("item \"IPM.Task.Changed\" saved=") != std::string::npos);
    CHECK(out.find("item \"IPM.Task.Shared\" saved=1") != std::string::npos);
    RemoveItem(now.back());
    SetItemClass(list[1], "IPM.Task");
}
