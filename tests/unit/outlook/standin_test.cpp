// The stand-in Outlook server as a client meets it: registered for the application class,
// staged at C:\sandbox\OutlookStandin.dll and OutlookStandin.exe, serving the profile written
// here before it loads. It must refuse what a type-library IDispatch refuses and act as the
// documented object model does, or the end-to-end scenarios prove nothing about the calls the
// uninstaller makes.
#include "tests/unit/outlook/StandinClient.h"

using namespace standintest;

namespace {

const char Profile[] = "store \"P\" id=0A0B\r\n"
                       "  folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task.Plendrax\" "
                       "displayname=\"Plendrax\"\r\n"
                       "    item \"IPM.Task.Plendrax\" subject=\"Call Bob\"\r\n"
                       "    item \"IPM.Task\"\r\n"
                       "  folder \"Locked\" type=3 id=00AA02 access=no\r\n"
                       "  folder \"Shared\" type=3 id=00AA03\r\n"
                       "    item \"IPM.Task.Plendrax\"\r\n"
                       "    item \"IPM.Task.Plendrax\"\r\n"
                       "store \"Q\" id=0C0D\r\n"
                       "fail \"P/Tasks#2\" IDispatch *\r\n"
                       "fail \"P/Tasks\" StoreID 1 0x80040107\r\n"
                       "answer \"P/Tasks\" EntryID 1 null\r\n"
                       "answer \"P/Tasks\" EntryID 2 wrongtype\r\n"
                       "answer \"P/Tasks\" Items 2 unknown\r\n";

} // namespace

TEST_CASE("the stand-in refuses what a type-library IDispatch refuses") {
    Server server(Profile);
    IDispatch* app = server.application;
    Call call;
    SUBCASE("wrong flags") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_PROPERTYPUT, {Text(L"MAPI")}, true);
        CHECK(call.result == DISP_E_MEMBERNOTFOUND);
    }
    SUBCASE("a method asked for as a property, and a property as a method") {
        Invoke(call, app, OutlookDispId::GetNamespace, DISPATCH_PROPERTYGET, {Text(L"MAPI")});
        CHECK(call.result == DISP_E_MEMBERNOTFOUND);
        Call mapi, asMethod;
        Invoke(mapi, app, OutlookDispId::GetNamespace, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
               {Text(L"MAPI")});
        REQUIRE(mapi.Object() != nullptr);
        Invoke(asMethod, mapi.Object(), OutlookDispId::Folders, DISPATCH_METHOD);
        CHECK(asMethod.result == DISP_E_MEMBERNOTFOUND);
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
    Server server(Profile);
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

    SUBCASE("an index runs from 1 to Count; a text names an item by its subject") {
        Call zero, beyond, asText, bySubject, byName;
        Invoke(zero, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(0)});
        Invoke(beyond, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(3)});
        CHECK(zero.result == DISP_E_EXCEPTION);
        CHECK(zero.scode == DISP_E_BADINDEX);
        CHECK(beyond.scode == DISP_E_BADINDEX);
        // A text is matched against the default property, never read as a number.
        Invoke(asText, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Text(L"1")});
        CHECK(asText.result == DISP_E_EXCEPTION);
        CHECK(asText.scode == HRESULT(0x8004010F));
        Invoke(bySubject, items.Object(), OutlookDispId::Item, DISPATCH_METHOD,
               {Text(L"Call Bob")});
        REQUIRE(bySubject.Object() != nullptr);
        Call messageClass;
        Invoke(messageClass, bySubject.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        REQUIRE(messageClass.value.vt == VT_BSTR);
        CHECK(std::wstring(messageClass.value.bstrVal) == L"IPM.Task.Plendrax");
        server.TasksFolder(byName, Text(L"Shared"));
        Call sharedCount, sharedItems;
        Invoke(sharedItems, byName.Object(), OutlookDispId::Items, DISPATCH_PROPERTYGET);
        Invoke(sharedCount, sharedItems.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
        CHECK(sharedCount.value.lVal == 2);
    }
    SUBCASE("a class written is the item's own until it is saved") {
        Call first, unnamed, named, after, again, stored, save, saved, null, nulled;
        Invoke(first, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        Invoke(unnamed, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT,
               {Text(L"IPM.Task")});
        CHECK(unnamed.result == DISP_E_PARAMNOTOPTIONAL);
        Invoke(named, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT,
               {Text(L"IPM.Task")}, true);
        CHECK(named.result == S_OK);
        Invoke(after, first.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(after.value.bstrVal) == L"IPM.Task");
        // Another reference to the same item reads the store until Save.
        Invoke(again, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
        Invoke(stored, again.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(stored.value.bstrVal) == L"IPM.Task.Plendrax");
        Invoke(save, first.Object(), OutlookDispId::Save, DISPATCH_METHOD);
        Invoke(saved, again.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(saved.value.bstrVal) == L"IPM.Task");
        // A null BSTR is the empty string.
        VARIANT nothing;
        VariantInit(&nothing);
        nothing.vt = VT_BSTR;
        Invoke(null, again.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT, {nothing},
               true);
        Invoke(nulled, again.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(SysStringLen(nulled.value.bstrVal) == 0);
        Call restore;
        Invoke(restore, again.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT,
               {Text(L"IPM.Task.Plendrax")}, true);
        Invoke(restore, again.Object(), OutlookDispId::Save, DISPATCH_METHOD);
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
    SUBCASE("a new item has the default form and reaches the folder only when saved") {
        Call created, form, formClass, closed, badClose, unsaved, note, noteClass, typed;
        Invoke(created, items.Object(), OutlookDispId::Add, DISPATCH_METHOD);
        REQUIRE(created.Object() != nullptr);
        Invoke(unsaved, items.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
        CHECK(unsaved.value.lVal == 2);
        Invoke(form, created.Object(), OutlookDispId::FormDescription, DISPATCH_PROPERTYGET);
        Invoke(formClass, form.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(formClass.value.bstrVal) == L"IPM.Task.Plendrax");
        Invoke(badClose, created.Object(), OutlookDispId::Close, DISPATCH_METHOD, {Long(7)});
        CHECK(badClose.scode == E_INVALIDARG);
        Invoke(closed, created.Object(), OutlookDispId::Close, DISPATCH_METHOD, {Long(1)});
        CHECK(closed.result == S_OK);
        // The type is a message class or an OlItemType; a saved one joins the folder.
        Invoke(note, items.Object(), OutlookDispId::Add, DISPATCH_METHOD, {Text(L"IPM.Note.X")});
        Invoke(noteClass, note.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(noteClass.value.bstrVal) == L"IPM.Note.X");
        Invoke(typed, items.Object(), OutlookDispId::Add, DISPATCH_METHOD, {Long(5)});
        Call typedClass, saved, counted, last, lastClass;
        Invoke(typedClass, typed.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(typedClass.value.bstrVal) == L"IPM.StickyNote");
        Invoke(saved, typed.Object(), OutlookDispId::Close, DISPATCH_METHOD, {Long(0)});
        Invoke(counted, items.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
        CHECK(counted.value.lVal == 3);
        Invoke(last, items.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(3)});
        Invoke(lastClass, last.Object(), OutlookDispId::MessageClass, DISPATCH_PROPERTYGET);
        CHECK(std::wstring(lastClass.value.bstrVal) == L"IPM.StickyNote");
    }
    SUBCASE("answers of the fault table: a null string, another type, the object as IUnknown") {
        Call null, other, unknown;
        Invoke(null, tasks, OutlookDispId::EntryID, DISPATCH_PROPERTYGET);
        CHECK(null.result == S_OK);
        CHECK(null.value.vt == VT_BSTR);
        CHECK(null.value.bstrVal == nullptr);
        Invoke(other, tasks, OutlookDispId::EntryID, DISPATCH_PROPERTYGET);
        CHECK(other.value.vt == VT_I4);
        Invoke(unknown, tasks, OutlookDispId::Items, DISPATCH_PROPERTYGET);
        CHECK(unknown.value.vt == VT_UNKNOWN);
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
        Server server(Profile);
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
        Server server(Profile);
        server.application->AddRef();
        server.application->Release();
        server.application->Release();
        server.application->Release(); // one too many
        server.application = nullptr;
    }
    log = ReadWholeFile("C:\\sandbox\\log\\outlook.log");
    CHECK(log.find("Release object=\"outlook\" after its last release") != std::string::npos);
}

TEST_CASE("in-process, a busy server rejects calls uncounted for a while, a closed one for good") {
    DeleteFileA("C:\\sandbox\\log\\calls.log");
    // Calls 4 on (the creation and its query are 1 and 2) are rejected for 300 ms.
    Server server(std::string(Profile) + "busy outlook 4 300\r\n"
                                         "close namespace.Folders Count 1\r\n");
    Call mapi, stores, first;
    Invoke(mapi, server.application, OutlookDispId::GetNamespace, DISPATCH_METHOD, {Text(L"MAPI")});
    Invoke(stores, mapi.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
    CHECK(stores.result == RPC_E_CALL_REJECTED);
    CHECK(stores.value.vt == VT_EMPTY);
    int rejected = 1;
    DWORD start = GetTickCount();
    while (stores.result == RPC_E_CALL_REJECTED && GetTickCount() - start < 5000) {
        Sleep(20);
        Invoke(stores, mapi.Object(), OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        rejected += stores.result == RPC_E_CALL_REJECTED;
    }
    REQUIRE(stores.result == S_OK);
    CHECK(rejected > 1);
    Invoke(first, stores.Object(), OutlookDispId::Item, DISPATCH_METHOD, {Long(1)});
    CHECK(first.result == S_OK);
    Call count, after;
    Invoke(count, stores.Object(), OutlookDispId::Count, DISPATCH_PROPERTYGET);
    CHECK(count.result == RPC_E_DISCONNECTED);
    Invoke(after, first.Object(), OutlookDispId::DefaultItemType, DISPATCH_PROPERTYGET);
    CHECK(after.result == RPC_E_DISCONNECTED);
    std::vector<std::string> calls = ReadLines("C:\\sandbox\\log\\calls.log");
    CHECK(CountContaining(calls, "outlook 4 \"namespace\" Folders") == 1);
    CHECK(CountContaining(calls, "outlook 6 \"namespace.Folders\" Count") == 1);
}
