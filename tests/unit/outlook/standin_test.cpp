// The stand-in Outlook server as a client meets it: registered for the application class,
// staged at C:\sandbox\OutlookStandin.dll, serving the profile written here before it loads.
// It must refuse what a type-library IDispatch refuses, or the end-to-end scenarios prove
// nothing about the calls the uninstaller makes.
#include <doctest.h>

#include "tests/support/SandboxState.h"
#include "platform/Outlook.h"

#include <windows.h>

#include <ole2.h>

#include <string>
#include <vector>

namespace {

const char Profile[] = "store \"P\" id=0A0B\r\n"
                       "  folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task.Plendrax\" "
                       "displayname=\"Plendrax\"\r\n"
                       "    item \"IPM.Task.Plendrax\"\r\n"
                       "    item \"IPM.Task\"\r\n"
                       "  folder \"Locked\" type=3 id=00AA02 access=no\r\n"
                       "store \"Q\" id=0C0D\r\n"
                       "fail \"P/Tasks#2\" IDispatch *\r\n"
                       "fail \"P/Tasks\" StoreID 1 0x80040107\r\n";

// One raw Invoke; arguments in their natural order. Frees what an exception carries and
// hands back its scode through scode.
struct Call {
    HRESULT result = E_FAIL;
    HRESULT scode = S_OK;
    VARIANT value;
    Call() { VariantInit(&value); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() { VariantClear(&value); }
    IDispatch* Object() const { return value.vt == VT_DISPATCH ? value.pdispVal : nullptr; }
};

void Invoke(Call& call, IDispatch* object, DISPID member, WORD flags,
            std::vector<VARIANT> arguments = {}, bool named = false, REFIID iid = IID_NULL) {
    REQUIRE(object != nullptr);
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {reversed.empty() ? nullptr : reversed.data(), named ? &put : nullptr,
                             UINT(reversed.size()), named ? 1u : 0u};
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    call.result =
        object->Invoke(member, iid, 0, flags, &parameters, &call.value, &exception, &argumentError);
    call.scode = exception.scode;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

VARIANT Long(long value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

// The strings here stay alive for the test's whole run.
VARIANT Text(const wchar_t* text) {
    static std::vector<BSTR> kept;
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BSTR;
    variant.bstrVal = SysAllocString(text);
    kept.push_back(variant.bstrVal);
    return variant;
}

struct Server {
    IDispatch* application = nullptr;
    Server() {
        RegisterOutlookStandin();
        CreateDirectoryA("C:\\sandbox", nullptr);
        CreateFileWithText("C:\\sandbox\\profile.txt", Profile);
        REQUIRE(ReadWholeFile("C:\\sandbox\\profile.txt") == Profile);
        REQUIRE(CoInitialize(nullptr) == S_OK);
        REQUIRE(CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext,
                                 IID_IDispatch, reinterpret_cast<void**>(&application)) == S_OK);
    }
    ~Server() {
        if (application != nullptr)
            application->Release();
        CoUninitialize();
    }
    // "P/Tasks" by way of the namespace and the store's folders.
    void TasksFolder(Call& folder) {
        Call mapi, stores, store, folders;
        Invoke(mapi, application, OutlookDispId::GetNamespace, DISPATCH_METHOD, {Text(L"MAPI")});
        Invoke(stores, mapi.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        Invoke(store, stores.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        Invoke(folders, store.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        Invoke(folder, folders.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        REQUIRE(folder.Object() != nullptr);
    }
};

} // namespace

TEST_CASE("the stand-in refuses what a type-library IDispatch refuses") {
    Server server;
    IDispatch* app = server.application;
    Call call;
    SUBCASE("wrong flags") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_PROPERTYPUT, {Text(L"MAPI")}, true);
        CHECK(call.result == DISP_E_MEMBERNOTFOUND);
    }
    SUBCASE("an unknown DISPID") {
        Invoke(call, app, 0x999, DISPATCH_METHOD);
        CHECK(call.result == DISP_E_MEMBERNOTFOUND);
    }
    SUBCASE("a missing argument") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_METHOD);
        CHECK(call.result == DISP_E_BADPARAMCOUNT);
    }
    SUBCASE("an argument too many") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_METHOD,
               {Text(L"MAPI"), Text(L"MAPI")});
        CHECK(call.result == DISP_E_BADPARAMCOUNT);
    }
    SUBCASE("an argument of a type that does not convert") {
        VARIANT object;
        VariantInit(&object);
        object.vt = VT_DISPATCH;
        object.pdispVal = app;
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_METHOD, {object});
        CHECK(call.result == DISP_E_TYPEMISMATCH);
    }
    SUBCASE("named arguments to a method") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_METHOD, {Text(L"MAPI")}, true);
        CHECK(call.result == DISP_E_NONAMEDARGS);
    }
    SUBCASE("an interface id other than IID_NULL") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_METHOD, {Text(L"MAPI")}, false,
               IID_IDispatch);
        CHECK(call.result == DISP_E_UNKNOWNINTERFACE);
    }
    SUBCASE("a namespace other than MAPI") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_METHOD, {Text(L"EWS")});
        CHECK(call.result == DISP_E_EXCEPTION);
        CHECK(call.scode == E_INVALIDARG);
    }
    CHECK(call.value.vt == VT_EMPTY);
}

TEST_CASE("the stand-in serves the profile's stores, folders and items") {
    Server server;
    Call folder;
    server.TasksFolder(folder);
    IDispatch* tasks = folder.Object();

    Call type, items, count, stores;
    Invoke(type, tasks, OutlookDispId::DefaultItemType, DISPATCH_PROPERTYGET);
    CHECK(type.value.vt == VT_I4);
    CHECK(type.value.lVal == 3);
    Invoke(items, tasks, OutlookDispId::Items, DISPATCH_PROPERTYGET);
    Invoke(count, items.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
    CHECK(count.value.lVal == 2);

    SUBCASE("indexes run from 1 to Count") {
        Call zero, beyond, first;
        Invoke(zero, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(0)});
        Invoke(beyond, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(3)});
        CHECK(zero.result == DISP_E_EXCEPTION);
        CHECK(zero.scode == DISP_E_BADINDEX);
        CHECK(beyond.scode == DISP_E_BADINDEX);
        // A number as text converts, as type-library dispatch converts it.
        Invoke(first, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Text(L"1")});
        REQUIRE(first.Object() != nullptr);
        Call messageClass;
        Invoke(messageClass, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        REQUIRE(messageClass.value.vt == VT_BSTR);
        CHECK(std::wstring(messageClass.value.bstrVal) == L"IPM.Task.Plendrax");
    }
    SUBCASE("a put needs its named DISPID_PROPERTYPUT argument") {
        Call first, unnamed, named, after;
        Invoke(first, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        Invoke(unnamed, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT,
               {Text(L"IPM.Task")});
        CHECK(unnamed.result == DISP_E_PARAMNOTOPTIONAL);
        Invoke(named, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT,
               {Text(L"IPM.Task")}, true);
        CHECK(named.result == S_OK);
        Invoke(after, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(after.value.bstrVal) == L"IPM.Task");
    }
    SUBCASE("an item listed in the fault table refuses IDispatch") {
        Call second;
        Invoke(second, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(2)});
        REQUIRE(second.value.vt == VT_DISPATCH);
        IDispatch* asked = nullptr;
        CHECK(second.value.pdispVal->QueryInterface(
                  IID_IDispatch, reinterpret_cast<void**>(&asked)) == E_NOINTERFACE);
        CHECK(asked == nullptr);
    }
    SUBCASE("a fault for the first call only") {
        Call first, second;
        Invoke(first, tasks, OutlookDispId::StoreID, DISPATCH_PROPERTYGET);
        Invoke(second, tasks, OutlookDispId::StoreID, DISPATCH_PROPERTYGET);
        CHECK(first.result == DISP_E_EXCEPTION);
        CHECK(first.scode == HRESULT(0x80040107));
        REQUIRE(second.value.vt == VT_BSTR);
        CHECK(std::wstring(second.value.bstrVal) == L"0A0B");
    }
    SUBCASE("a new item gets the default form and a discarded one disappears") {
        Call created, form, formClass, closed, badClose, after;
        Invoke(created, items.Object(), OutlookDispId::Add, DISPATCH_METHOD);
        REQUIRE(created.Object() != nullptr);
        Invoke(form, created.Object(), OutlookDispId::FormDescription, DISPATCH_PROPERTYGET);
        Invoke(formClass, form.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(formClass.value.bstrVal) == L"IPM.Task.Plendrax");
        Invoke(badClose, created.Object(), OutlookDispId::Close, DISPATCH_METHOD, {Long(7)});
        CHECK(badClose.scode == E_INVALIDARG);
        Invoke(closed, created.Object(), OutlookDispId::Close, DISPATCH_METHOD, {Long(1)});
        CHECK(closed.result == S_OK);
        Invoke(after, items.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
        CHECK(after.value.lVal == 2);
    }
    SUBCASE("an inaccessible folder fails its DefaultItemType") {
        Call mapi, storeFolders, store, folders, locked, lockedType;
        Invoke(mapi, server.application, OutlookDispId::GetNamespace, DISPATCH_METHOD,
               {Text(L"MAPI")});
        Invoke(storeFolders, mapi.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        Invoke(stores, storeFolders.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
        CHECK(stores.value.lVal == 2);
        Invoke(store, storeFolders.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        Invoke(folders, store.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        Invoke(locked, folders.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(2)});
        Invoke(lockedType, locked.Object(), OutlookDispId::DefaultItemType, DISPATCH_PROPERTYGET);
        CHECK(lockedType.result == DISP_E_EXCEPTION);
        CHECK(lockedType.scode == E_ACCESSDENIED);
    }
}

TEST_CASE("the stand-in records calls, live objects and releases once too often") {
    DeleteFileA("C:\\sandbox\\log\\outlook.log");
    {
        Server server;
        Call folder;
        server.TasksFolder(folder);
        IDispatch* extra = folder.Object();
        extra->AddRef();
        extra->Release();
    }
    std::string log = ReadWholeFile("C:\\sandbox\\log\\outlook.log");
    CHECK(log.find("invoke object=\"outlook\" member=GetNamespace flags=1 args=[BSTR:MAPI] "
                   "result=yes -> 0x00000000") != std::string::npos);
    CHECK(log.find("invoke object=\"P.Folders\" member=Item flags=1 args=[I4:1]") !=
          std::string::npos);
    CHECK(log.find("last release object=\"outlook\" live=0") != std::string::npos);
    CHECK(log.find("after its last release") == std::string::npos);

    DeleteFileA("C:\\sandbox\\log\\outlook.log");
    {
        Server server;
        server.application->AddRef();
        server.application->Release();
        server.application->Release();
        server.application->Release(); // one too many
        server.application = nullptr;
    }
    log = ReadWholeFile("C:\\sandbox\\log\\outlook.log");
    CHECK(log.find("Release object=\"outlook\" after its last release") != std::string::npos);
}
