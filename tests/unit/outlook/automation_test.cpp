#include <doctest.h>

#include "FakeOutlook.h"
#include "outlook/Automation.h"
#include "outlook/BusyServer.h"
#include "platform/Outlook.h"

#include <utility>

using fake::Behaviour;
using fake::Kind;
using fake::Misbehaviour;

namespace {

HRESULT ErrorOf(void (*call)(fake::World&), fake::World& world) {
    try {
        call(world);
    } catch (const _com_error& error) {
        return error.Error();
    }
    return S_OK;
}

std::wstring Description(const _com_error& error) {
    IErrorInfo* info = error.ErrorInfo();
    if (info == nullptr)
        return L"<none>";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"<null>";
    SysFreeString(text);
    info->Release();
    return description;
}

} // namespace

TEST_CASE("a counted reference is released exactly once, whoever ends up holding it") {
    fake::World world;
    fake::Object* folder = world.Folder("F");
    {
        DispatchRef first(fake::World::Hand(folder));
        DispatchRef second = first.NewReference();
        CHECK(folder->references == 2);
        DispatchRef moved(std::move(first));
        CHECK(first.IsNull());
        CHECK(folder->references == 2);
        second = std::move(moved); // the old reference of second goes
        CHECK(folder->references == 1);
        second.Release();
        second.Release();
        CHECK(folder->references == 0);
        DispatchRef empty;
        CHECK(empty.NewReference().IsNull());
    }
    CHECK(world.LiveReferences() == 0);
    CHECK(world.violations.empty());
}

TEST_CASE("members are invoked as the type library declares them") {
    fake::World world;
    fake::Object* application = world.Make(Kind::Application, "app");
    application->link = world.Make(Kind::Namespace, "ns");
    fake::Object* folder = world.Folder("F");
    fake::Object* item = world.AddItem(folder, "i1", L"IPM.Task.Plendrax");
    {
        DispatchRef app(fake::World::Hand(application));
        Variant name;
        name.value.bstrVal = NarrowToBstr("MAPI");
        name.value.vt = VT_BSTR;
        DispatchRef mapi = CallObjectMethod(app, OutlookDispId::GetNamespace, &name.value, 1);
        CHECK(mapi.Get() == static_cast<IDispatch*>(application->link));

        DispatchRef owned(fake::World::Hand(folder));
        CHECK(GetLongProperty(owned, OutlookDispId::DefaultItemType) == 3);
        DispatchRef items = GetObjectProperty(owned, OutlookDispId::Items);

        SUBCASE("the omitted optional argument is dropped") {
            Variant omitted;
            omitted.value.vt = VT_ERROR;
            omitted.value.scode = DISP_E_PARAMNOTFOUND;
            DispatchRef created = CallObjectMethod(items, OutlookDispId::Add, &omitted.value, 1);
            CHECK_FALSE(created.IsNull());
            CHECK(world.CountCalls("F.Items.Add()") == 1);
        }
        SUBCASE("a put sends one named DISPID_PROPERTYPUT argument and requests no result") {
            DispatchRef owned_item(fake::World::Hand(item));
            PutStringProperty(owned_item, OutlookDispId::MessageClass, "IPM.Task");
            CHECK(item->messageClass == std::wstring(L"IPM.Task"));
            CHECK(world.CountCalls("i1.MessageClass=IPM.Task") == 1);
        }
        SUBCASE("methods without a result request none") {
            DispatchRef owned_item(fake::World::Hand(item));
            CallMethod(owned_item, OutlookDispId::Save, nullptr, 0);
            Variant discard;
            discard.value.vt = VT_I4;
            discard.value.lVal = 1;
            CallMethod(owned_item, OutlookDispId::Close, &discard.value, 1);
            CHECK(item->saves == 1);
            CHECK(item->closes == 1);
        }
    }
    CHECK(world.calls.front() == "app.GetNamespace(MAPI)");
    CHECK(world.violations.empty());
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("a failed call raises _com_error with its HRESULT") {
    fake::World world;
    fake::Object* folder = world.Folder("F");
    DispatchRef owned(fake::World::Hand(folder));

    SUBCASE("a plain failure") {
        world.Fail("F", "DefaultItemType", DISP_E_BADINDEX);
        CHECK_THROWS_AS(GetLongProperty(owned, OutlookDispId::DefaultItemType), _com_error);
        try {
            GetLongProperty(owned, OutlookDispId::DefaultItemType);
        } catch (const _com_error& error) {
            CHECK(error.Error() == DISP_E_BADINDEX);
        }
    }
    SUBCASE("an exception carries its own code and Outlook's description") {
        Behaviour behaviour;
        behaviour.what = Misbehaviour::Exception;
        behaviour.result = HRESULT(0x80040109);
        world.Set("F", "EntryID", behaviour);
        bool raised = false;
        try {
            GetStringProperty(owned, OutlookDispId::EntryID);
        } catch (const _com_error& error) {
            raised = true;
            CHECK(error.Error() == HRESULT(0x80040109));
            CHECK(Description(error) == L"The operation failed.");
        }
        CHECK(raised);
    }
    SUBCASE("an exception with only a wCode") {
        Behaviour behaviour;
        behaviour.what = Misbehaviour::WCodeOnly;
        world.Set("F", "StoreID", behaviour);
        bool raised = false;
        try {
            GetStringProperty(owned, OutlookDispId::StoreID);
        } catch (const _com_error& error) {
            raised = true;
            CHECK(error.Error() == _com_error::WCodeToHRESULT(7));
        }
        CHECK(raised);
    }
    SUBCASE("a member the object does not have") {
        bool raised = false;
        try {
            CallMethod(owned, OutlookDispId::Save, nullptr, 0);
        } catch (const _com_error& error) {
            raised = true;
            CHECK(error.Error() == DISP_E_MEMBERNOTFOUND);
        }
        CHECK(raised);
        world.violations.clear(); // provoked on purpose
    }
    owned.Release();
    CHECK(world.violations.empty());
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("a busy Outlook is asked again for a bounded time; any other call is made once") {
    fake::World world;
    fake::Object* folder = world.Folder("F");
    fake::Object* item = world.AddItem(folder, "i1", L"IPM.Task.Plendrax");
    DispatchRef owned(fake::World::Hand(item));
    BusyServerAnswered();
    auto Error = [&](void (*call)(const DispatchRef&)) {
        try {
            call(owned);
        } catch (const _com_error& error) {
            return error.Error();
        }
        return S_OK;
    };

    SUBCASE("rejected for a while, then taken") {
        Behaviour rejected;
        rejected.result = RPC_E_CALL_REJECTED;
        rejected.times = 3;
        world.Set("i1", "MessageClass", rejected);
        Behaviour later;
        later.result = RPC_E_SERVERCALL_RETRYLATER;
        later.times = 2;
        world.Set("i1", "Save", later);
        CHECK(GetStringProperty(owned, OutlookDispId::MessageClass) == "IPM.Task.Plendrax");
        CallMethod(owned, OutlookDispId::Save, nullptr, 0);
        CHECK(world.CountCalls("i1.MessageClass") == 4);
        CHECK(world.CountCalls("i1.Save()") == 3);
        CHECK(item->saves == 1);
    }
    SUBCASE("another failure and a normal call are made once") {
        world.Fail("i1", "Save", E_FAIL);
        CHECK(Error([](const DispatchRef& o) { CallMethod(o, OutlookDispId::Save, nullptr, 0); }) ==
              E_FAIL);
        CHECK(world.CountCalls("i1.Save()") == 1);
        GetStringProperty(owned, OutlookDispId::MessageClass);
        CHECK(world.CountCalls("i1.MessageClass") == 1);
    }
    SUBCASE("the wait is bounded, and a server that stays busy costs one wait, not one a call") {
        DWORD delay = 0;
        CHECK(RetryBusyCall(0, &delay));
        CHECK(delay == BusyRetryMs);
        CHECK(RetryBusyCall(BusyWaitMs - 30, &delay));
        CHECK(delay == 30);
        CHECK_FALSE(RetryBusyCall(BusyWaitMs, &delay));
        // Given up: a rejection fails at once, until some call is answered.
        Behaviour rejected;
        rejected.result = RPC_E_CALL_REJECTED;
        rejected.times = 1;
        world.Set("i1", "MessageClass", rejected);
        CHECK(Error([](const DispatchRef& o) {
                  GetStringProperty(o, OutlookDispId::MessageClass);
              }) == RPC_E_CALL_REJECTED);
        CHECK(world.CountCalls("i1.MessageClass") == 1);
        GetStringProperty(owned, OutlookDispId::MessageClass);
        CHECK(RetryBusyCall(0, &delay));
        // COM's message filter, which Windows asks about a rejection, follows the same rule.
        IMessageFilter* filter = BusyServerFilter::Filter();
        CHECK(filter->RetryRejectedCall(nullptr, 500, SERVERCALL_REJECTED) == BusyRetryMs);
        CHECK(filter->RetryRejectedCall(nullptr, BusyWaitMs, SERVERCALL_RETRYLATER) == DWORD(-1));
        CHECK(filter->RetryRejectedCall(nullptr, 0, SERVERCALL_REJECTED) == DWORD(-1));
        BusyServerAnswered();
    }
    owned.Release();
    CHECK(world.violations.empty());
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("the message filter is the thread's while the conversion holds it") {
    REQUIRE(CoInitialize(nullptr) == S_OK);
    {
        BusyServerFilter registered;
        IMessageFilter* current = nullptr;
        CHECK(CoRegisterMessageFilter(nullptr, &current) == S_OK);
        CHECK(current == BusyServerFilter::Filter());
        CoRegisterMessageFilter(current, nullptr);
        if (current != nullptr)
            current->Release();
    }
    IMessageFilter* after = BusyServerFilter::Filter();
    CHECK(CoRegisterMessageFilter(nullptr, &after) == S_OK);
    CHECK(after == nullptr);
    CoUninitialize();
}

TEST_CASE("a call on a null reference raises E_POINTER without calling anything") {
    fake::World world;
    CHECK(ErrorOf([](fake::World&) { GetLongProperty(DispatchRef(), OutlookDispId::Count); },
                  world) == E_POINTER);
    CHECK(ErrorOf([](fake::World&) { CallMethod(DispatchRef(), OutlookDispId::Save, nullptr, 0); },
                  world) == E_POINTER);
    CHECK(ErrorOf(
              [](fake::World&) {
                  PutStringProperty(DispatchRef(), OutlookDispId::MessageClass, "IPM.Task");
              },
              world) == E_POINTER);
}

TEST_CASE("results of another type are converted, or the call fails") {
    fake::World world;
    fake::Object* folder = world.Folder("F");
    world.AddItem(folder, "i1", L"IPM.Task");
    DispatchRef owned(fake::World::Hand(folder));
    DispatchRef items = GetObjectProperty(owned, OutlookDispId::Items);
    Behaviour odd;
    odd.what = Misbehaviour::OddType;

    SUBCASE("a count as text") {
        odd.odd.vt = VT_BSTR;
        odd.odd.bstrVal = SysAllocString(L"12");
        world.Set("F.Items", "Count", odd);
        CHECK(GetLongProperty(items, OutlookDispId::Count) == 12);
    }
    SUBCASE("a count that is no number") {
        odd.odd.vt = VT_BSTR;
        odd.odd.bstrVal = SysAllocString(L"twelve");
        world.Set("F.Items", "Count", odd);
        CHECK_THROWS_AS(GetLongProperty(items, OutlookDispId::Count), _com_error);
    }
    SUBCASE("an identifier as a number") {
        odd.odd.vt = VT_I4;
        odd.odd.lVal = 42;
        world.Set("F", "EntryID", odd);
        CHECK(GetStringProperty(owned, OutlookDispId::EntryID) == std::string("42"));
    }
    SUBCASE("an object as a number") {
        odd.odd.vt = VT_I4;
        odd.odd.lVal = 1;
        world.Set("F", "Items", odd);
        CHECK_THROWS_AS(GetObjectProperty(owned, OutlookDispId::Items), _com_error);
    }
    SUBCASE("an object as an IUnknown") {
        fake::Object* other = world.Folder("G");
        odd.odd.vt = VT_UNKNOWN;
        odd.odd.punkVal = static_cast<IUnknown*>(fake::World::Hand(other));
        world.Set("F", "Folders", odd);
        DispatchRef converted = GetObjectProperty(owned, OutlookDispId::Folders);
        CHECK(converted.Get() == static_cast<IDispatch*>(other));
        converted.Release();
        CHECK(other->references == 1); // the one the behaviour itself holds
    }
    SUBCASE("a null string is no string, an empty one is empty") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        world.Set("F", "StoreID", null);
        CHECK_FALSE(GetStringProperty(owned, OutlookDispId::StoreID).has_value());
        folder->entryId = std::wstring();
        CHECK(GetStringProperty(owned, OutlookDispId::EntryID) == std::string());
    }
    items.Release();
    owned.Release();
    CHECK(world.violations.empty());
    CHECK(world.LiveReferences() == (world.Find("F", "Folders") != nullptr ? 1 : 0));
}

TEST_CASE("narrow text and BSTR convert both ways, embedded zeros included") {
    BSTR converted = NarrowToBstr("IPM.Task");
    REQUIRE(converted != nullptr);
    CHECK(SysStringLen(converted) == 8);
    CHECK(std::wstring(converted) == L"IPM.Task");
    SysFreeString(converted);

    BSTR withZero = SysAllocStringLen(L"IPM.Task.Plendrax\0x", 19);
    std::optional<std::string> narrow = BstrToNarrow(withZero);
    SysFreeString(withZero);
    REQUIRE(narrow.has_value());
    CHECK(narrow->size() == 19);
    CHECK(*narrow != "IPM.Task.Plendrax");
    CHECK_FALSE(BstrToNarrow(nullptr).has_value());
}

TEST_CASE("asking for IDispatch") {
    fake::World world;
    fake::Object* item = world.Make(Kind::Item, "i");
    DispatchRef owned(fake::World::Hand(item));
    SUBCASE("an object without it gives a null reference") {
        item->refusesDispatch = true;
        CHECK(QueryDispatch(owned).IsNull());
    }
    SUBCASE("another failure raises") {
        item->queryFailure = E_UNEXPECTED;
        CHECK_THROWS_AS(QueryDispatch(owned), _com_error);
    }
    SUBCASE("an object with it gives a reference of its own") {
        DispatchRef asked = QueryDispatch(owned);
        CHECK(asked.Get() == static_cast<IDispatch*>(item));
        CHECK(item->references == 2);
    }
    CHECK(QueryDispatch(DispatchRef()).IsNull());
    owned.Release();
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("creating the application fails cleanly when Outlook is not registered") {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F03A-0000-0000-C000-000000000046}");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F033-0000-0000-C000-000000000046}");
    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    DispatchRef application;
    HRESULT result = CreateOutlookApplication(application);
    CHECK(FAILED(result));
    CHECK(application.IsNull());
    CoUninitialize();
}
