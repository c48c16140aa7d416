#include <doctest.h>

#include "FakeOutlook.h"
#include "outlook/ConversionRun.h"
#include "outlook/TaskFolderVisitor.h"

#include <string>

using fake::Behaviour;
using fake::Misbehaviour;

namespace {

// Without the MAPIX value Extended MAPI counts as absent: no session, so no probe.
void WithoutExtendedMapi() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Messaging Subsystem", 0,
                      KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "MAPIX");
        RegCloseKey(key);
    }
}

// What the visits count and name, as a run would have them.
ConversionFigures figures;

bool Visit(fake::Object* folder, bool* manualSteps) {
    ConversionContext context{manualSteps, false, &figures};
    return TaskFolderVisitor(DispatchRef(fake::World::Hand(folder)), &context);
}

HRESULT VisitFailing(fake::Object* folder, bool* manualSteps) {
    try {
        Visit(folder, manualSteps);
    } catch (const _com_error& error) {
        return error.Error();
    }
    return S_OK;
}

std::wstring ClassOf(const fake::Object* item) {
    return item->messageClass ? *item->messageClass : L"<null>";
}

} // namespace

TEST_CASE("a folder of another item type is left alone entirely") {
    WithoutExtendedMapi();
    fake::World world;
    fake::Object* folder = world.Folder("Inbox", 0);
    fake::Object* item = world.AddItem(folder, "i1", L"IPM.Task.Plendrax");
    bool manualSteps = false;
    CHECK(Visit(folder, &manualSteps));
    CHECK(world.calls == std::vector<std::string>{"Inbox.DefaultItemType"});
    CHECK(ClassOf(item) == L"IPM.Task.Plendrax");
    CHECK_FALSE(manualSteps);
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("only items of exactly the Plendrax class are rewritten and saved") {
    WithoutExtendedMapi();
    for (bool before : {false, true}) {
        CAPTURE(before);
        fake::World world;
        fake::Object* folder = world.Folder("Tasks");
        fake::Object* exact = world.AddItem(folder, "exact", L"IPM.Task.Plendrax");
        fake::Object* caseOnly = world.AddItem(folder, "case", L"IPM.TASK.PLENDRAX");
        fake::Object* longer = world.AddItem(folder, "longer", L"IPM.Task.PlendraxOld");
        fake::Object* standard = world.AddItem(folder, "standard", L"IPM.Task");
        bool manualSteps = before;
        CHECK(Visit(folder, &manualSteps));

        CHECK(ClassOf(exact) == L"IPM.Task");
        CHECK(exact->saves == 1);
        CHECK(ClassOf(caseOnly) == L"IPM.TASK.PLENDRAX");
        CHECK(ClassOf(longer) == L"IPM.Task.PlendraxOld");
        CHECK(ClassOf(standard) == L"IPM.Task");
        CHECK(caseOnly->saves + longer->saves + standard->saves == 0);
        // Count once, each item fetched and read once, written before it is saved; no session,
        // so no probe and no temporary item.
        CHECK(world.calls ==
              std::vector<std::string>{
                  "Tasks.DefaultItemType", "Tasks.Items", "Tasks.Items.Count",
                  "Tasks.Items.Item(1)", "exact.MessageClass", "exact.MessageClass=IPM.Task",
                  "exact.Save()", "Tasks.Items.Item(2)", "case.MessageClass", "Tasks.Items.Item(3)",
                  "longer.MessageClass", "Tasks.Items.Item(4)", "standard.MessageClass"});
        CHECK(world.itemsCreated == 0);
        CHECK(manualSteps == before);
        CHECK(world.violations.empty());
        CHECK(world.LiveReferences() == 0);
    }
}

TEST_CASE("a failure on one item skips that item only, and never touches the flag") {
    WithoutExtendedMapi();
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    fake::Object* items[5];
    for (int n = 0; n < 5; ++n)
        items[n] = world.AddItem(folder, "i" + std::to_string(n + 1), L"IPM.Task.Plendrax");
    bool expectWritten = true;
    bool expectSkipped = true; // by an error; a class that is no text is simply not Plendrax

    SUBCASE("Save fails") {
        world.Fail("i3", "Save");
    }
    SUBCASE("the class write fails") {
        world.Fail("i3", "MessageClass=");
        expectWritten = false;
    }
    SUBCASE("the class read fails") {
        world.Fail("i3", "MessageClass");
        expectWritten = false;
    }
    SUBCASE("the class is null") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        world.Set("i3", "MessageClass", null);
        expectWritten = expectSkipped = false;
    }
    SUBCASE("the class comes as a number") {
        Behaviour odd;
        odd.what = Misbehaviour::OddType;
        odd.odd.vt = VT_I4;
        odd.odd.lVal = 3;
        world.Set("i3", "MessageClass", odd);
        expectWritten = expectSkipped = false;
    }
    SUBCASE("Item fails") {
        Behaviour failure;
        failure.index = 3;
        world.Set("Tasks.Items", "Item", failure);
        expectWritten = false;
    }
    SUBCASE("Item hands back no object") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        null.index = 3;
        world.Set("Tasks.Items", "Item", null);
        expectWritten = false;
    }
    SUBCASE("Item hands back a number") {
        Behaviour odd;
        odd.what = Misbehaviour::OddType;
        odd.odd.vt = VT_I4;
        odd.odd.lVal = 3;
        odd.index = 3;
        world.Set("Tasks.Items", "Item", odd);
        expectWritten = false;
    }
    SUBCASE("the item has no IDispatch") {
        items[2]->refusesDispatch = true;
        expectWritten = false;
    }
    SUBCASE("asking the item for IDispatch fails otherwise") {
        items[2]->queryFailure = E_UNEXPECTED;
        expectWritten = false;
    }
    bool manualSteps = false;
    figures = ConversionFigures();
    CHECK(Visit(folder, &manualSteps));
    CHECK_FALSE(manualSteps);
    CHECK(world.CountCalls("Tasks.Items.Item(3)") == 1); // not retried
    // The skipped item is named for the log: its folder, and its subject when it was had.
    CHECK(figures.itemsFailed == (expectSkipped ? 1 : 0));
    REQUIRE(figures.failedItems.size() == figures.itemsFailed);
    if (expectSkipped) {
        CHECK(figures.failedItems[0].folder == "Tasks");
        bool itemHad = world.CountCallsStartingWith("i3.MessageClass") > 0;
        CHECK(figures.failedItems[0].subject == (itemHad ? "i3" : "(subject unknown)"));
    }
    for (int n : {0, 1, 3, 4}) {
        CAPTURE(n);
        CHECK(ClassOf(items[n]) == L"IPM.Task");
        CHECK(items[n]->saves == 1);
    }
    CHECK(items[2]->saves == 0);
    CHECK(ClassOf(items[2]) == (expectWritten ? L"IPM.Task" : L"IPM.Task.Plendrax"));
    CHECK(world.violations.empty());
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("failures before the items leave the visitor") {
    WithoutExtendedMapi();
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    fake::Object* item = world.AddItem(folder, "i1", L"IPM.Task.Plendrax");
    HRESULT expected = E_FAIL;
    SUBCASE("DefaultItemType") {
        world.Fail("Tasks", "DefaultItemType");
    }
    SUBCASE("Items") {
        world.Fail("Tasks", "Items");
    }
    SUBCASE("Items is null") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        world.Set("Tasks", "Items", null);
        expected = E_POINTER;
    }
    SUBCASE("Count") {
        world.Fail("Tasks.Items", "Count");
    }
    bool manualSteps = false;
    CHECK(VisitFailing(folder, &manualSteps) == expected);
    CHECK(ClassOf(item) == L"IPM.Task.Plendrax");
    CHECK_FALSE(manualSteps);
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("an empty task folder") {
    WithoutExtendedMapi();
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    bool manualSteps = false;
    CHECK(Visit(folder, &manualSteps));
    CHECK(world.calls ==
          std::vector<std::string>{"Tasks.DefaultItemType", "Tasks.Items", "Tasks.Items.Count"});
    CHECK(world.LiveReferences() == 0);
}

namespace {

bool Probe(fake::Object* folder) {
    return DefaultFormProbe(DispatchRef(fake::World::Hand(folder)));
}

} // namespace

TEST_CASE("the probe reads the default form from a temporary item that it discards") {
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    world.AddItem(folder, "i1", L"IPM.Task.Plendrax");
    bool expected = false;
    SUBCASE("the Plendrax form") {
        folder->defaultForm = L"IPM.Task.Plendrax";
        expected = true;
    }
    SUBCASE("the standard form, though Plendrax items are in the folder") {
        folder->defaultForm = L"IPM.Task";
    }
    SUBCASE("a form differing in case") {
        folder->defaultForm = L"IPM.Task.plendrax";
    }
    SUBCASE("a form extending the class") {
        folder->defaultForm = L"IPM.Task.Plendrax.2";
    }
    CHECK(Probe(folder) == expected);
    CHECK(world.itemsCreated == 1);
    CHECK(world.CountCalls("Tasks.new1.Close(1)") == 1);
    CHECK(world.CountCallsStartingWith("Tasks.new1.Save") == 0);
    CHECK(world.CountCallsStartingWith("Tasks.new1.MessageClass=") == 0);
    CHECK(world.calls.back() == "Tasks.new1.Close(1)");
    CHECK(world.violations.empty());
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("automation errors in the probe's main step give false; the item is still closed") {
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    folder->defaultForm = L"IPM.Task.Plendrax";
    bool closed = true;
    SUBCASE("FormDescription fails") {
        world.Fail("Tasks.new1", "FormDescription");
    }
    SUBCASE("FormDescription is null") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        world.Set("Tasks.new1", "FormDescription", null);
    }
    SUBCASE("the form's class fails") {
        world.Fail("Tasks.new1.form", "MessageClass");
    }
    SUBCASE("the form's class is null") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        world.Set("Tasks.new1.form", "MessageClass", null);
    }
    SUBCASE("Items fails: nothing created") {
        world.Fail("Tasks", "Items");
        closed = false;
    }
    SUBCASE("the creation fails: nothing to close") {
        world.Fail("Tasks.Items", "Add");
        closed = false;
    }
    SUBCASE("asking the new object for IDispatch fails: no item to close") {
        folder->items->newItemQueryFailure = E_UNEXPECTED;
        closed = false;
    }
    CHECK_FALSE(Probe(folder));
    CHECK(world.CountCalls("Tasks.new1.Close(1)") == (closed ? 1u : 0u));
    CHECK(world.CountCallsStartingWith("Tasks.new1.Save") == 0);
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("errors that leave the probe") {
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    folder->defaultForm = L"IPM.Task.Plendrax";
    HRESULT expected = E_FAIL;
    SUBCASE("the new item has no IDispatch: closing it raises E_POINTER") {
        folder->items->newItemsRefuseDispatch = true;
        expected = E_POINTER;
    }
    SUBCASE("Close fails") {
        world.Fail("Tasks.new1", "Close");
    }
    HRESULT error = S_OK;
    try {
        Probe(folder);
    } catch (const _com_error& raised) {
        error = raised.Error();
    }
    CHECK(error == expected);
    CHECK(world.itemsCreated == 1);
    CHECK(world.LiveReferences() == 0);
}
