#include <doctest.h>

#include "FakeOutlook.h"
#include "outlook/FolderWalk.h"

#include <string>
#include <vector>

using fake::Behaviour;
using fake::Misbehaviour;

namespace {

struct Visits {
    std::vector<std::string> names;
    std::vector<long> references; // the folder's count while the visitor holds it
    std::string stopAt;
    std::string raiseAt;
};

bool RecordingVisitor(DispatchRef folder, void* context) {
    Visits* visits = static_cast<Visits*>(context);
    fake::Object* object = static_cast<fake::Object*>(folder.Get());
    visits->names.push_back(object->name);
    visits->references.push_back(object->references);
    if (object->name == visits->raiseAt)
        throw _com_error(E_ABORT);
    return object->name != visits->stopAt;
}

// top: A (A1 (A1a), A2), B, C (C1)
struct Tree {
    fake::World world;
    fake::Object* top = world.Collection("top");
    Tree() {
        fake::Object* a = world.AddFolder(top, "A");
        fake::Object* a1 = world.AddFolder(a, "A1");
        world.AddFolder(a1, "A1a");
        world.AddFolder(a, "A2");
        world.AddFolder(top, "B", 0);
        fake::Object* c = world.AddFolder(top, "C", 1);
        world.AddFolder(c, "C1");
    }
    bool Walk(Visits& visits) {
        return FolderWalk(DispatchRef(fake::World::Hand(top)), RecordingVisitor, &visits);
    }
    HRESULT WalkFailing(Visits& visits) {
        try {
            Walk(visits);
        } catch (const _com_error& error) {
            return error.Error();
        }
        return S_OK;
    }
};

using Names = std::vector<std::string>;

} // namespace

TEST_CASE("the walk visits every folder in pre-order, each with a reference of its own") {
    Tree tree;
    Visits visits;
    CHECK_FALSE(tree.Walk(visits));
    CHECK(visits.names == Names{"A", "A1", "A1a", "A2", "B", "C", "C1"});
    // The walk holds the child and hands the visitor one more.
    for (long references : visits.references)
        CHECK(references == 2);
    CHECK(tree.world.CountCalls("top.Count") == 1);
    CHECK(tree.world.CountCalls("A.Folders.Count") == 1);
    CHECK(tree.world.CountCalls("top.Item(3)") == 1);
    CHECK(tree.world.CountCalls("top.Item(4)") == 0);
    CHECK(tree.world.violations.empty());
    CHECK(tree.world.LiveReferences() == 0);
}

TEST_CASE("an empty collection: no Item call, released, not stopped") {
    fake::World world;
    fake::Object* top = world.Collection("top");
    Visits visits;
    CHECK_FALSE(FolderWalk(DispatchRef(fake::World::Hand(top)), RecordingVisitor, &visits));
    CHECK(visits.names.empty());
    CHECK(world.calls == std::vector<std::string>{"top.Count"});
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("an inaccessible folder is skipped with its whole subtree") {
    Tree tree;
    Visits visits;
    SUBCASE("DefaultItemType fails") {
        tree.world.Fail("A1", "DefaultItemType", E_ACCESSDENIED);
    }
    SUBCASE("DefaultItemType raises an exception") {
        Behaviour exception;
        exception.what = Misbehaviour::Exception;
        exception.result = E_ACCESSDENIED;
        tree.world.Set("A1", "DefaultItemType", exception);
    }
    SUBCASE("DefaultItemType is of no usable type") {
        Behaviour odd;
        odd.what = Misbehaviour::OddType;
        odd.odd.vt = VT_BSTR;
        odd.odd.bstrVal = SysAllocString(L"task");
        tree.world.Set("A1", "DefaultItemType", odd);
    }
    SUBCASE("Item hands back no object") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        null.index = 1;
        tree.world.Set("A.Folders", "Item", null);
    }
    CHECK_FALSE(tree.Walk(visits));
    CHECK(visits.names == Names{"A", "A2", "B", "C", "C1"});
    CHECK(tree.world.CountCalls("A1.Folders") == 0);
    CHECK(tree.world.LiveReferences() == 0);
}

TEST_CASE("a visitor returning false stops the whole walk") {
    Tree tree;
    Visits visits;
    visits.stopAt = "A1";
    CHECK(tree.Walk(visits));
    CHECK(visits.names == Names{"A", "A1"});
    CHECK(tree.world.CountCalls("A1.Folders") == 0);
    CHECK(tree.world.CountCalls("A.Folders.Item(2)") == 0);
    CHECK(tree.world.CountCalls("top.Item(2)") == 0);
    CHECK(tree.world.LiveReferences() == 0);
}

TEST_CASE("Item failing for the third of five folders: the first two subtrees done, error out") {
    fake::World world;
    fake::Object* top = world.Collection("top");
    for (int n = 1; n <= 5; ++n) {
        fake::Object* folder = world.AddFolder(top, "F" + std::to_string(n));
        world.AddFolder(folder, "F" + std::to_string(n) + "a");
    }
    Behaviour failure;
    failure.result = DISP_E_BADINDEX;
    failure.index = 3;
    world.Set("top", "Item", failure);
    Visits visits;
    HRESULT error = S_OK;
    try {
        FolderWalk(DispatchRef(fake::World::Hand(top)), RecordingVisitor, &visits);
    } catch (const _com_error& raised) {
        error = raised.Error();
    }
    CHECK(error == DISP_E_BADINDEX);
    CHECK(visits.names == Names{"F1", "F1a", "F2", "F2a"});
    CHECK(world.CountCalls("top.Item(4)") == 0);
    CHECK(world.LiveReferences() == 0);
}

TEST_CASE("every other error leaves the walk at once, releasing every level") {
    Tree tree;
    Visits visits;
    HRESULT expected = E_FAIL;
    Names seen;
    SUBCASE("Count of a nested collection") {
        tree.world.Fail("A1.Folders", "Count");
        seen = {"A", "A1"};
    }
    SUBCASE("Folders of a folder") {
        tree.world.Fail("A1", "Folders");
        seen = {"A", "A1"};
    }
    SUBCASE("Folders handing back no collection") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        tree.world.Set("A1", "Folders", null);
        expected = E_POINTER;
        seen = {"A", "A1"};
    }
    SUBCASE("the visitor") {
        visits.raiseAt = "A1a";
        expected = E_ABORT;
        seen = {"A", "A1", "A1a"};
    }
    SUBCASE("Count of the top collection") {
        tree.world.Fail("top", "Count");
        seen = {};
    }
    CHECK(tree.WalkFailing(visits) == expected);
    CHECK(visits.names == seen);
    CHECK(tree.world.CountCalls("A2.DefaultItemType") == 0);
    CHECK(tree.world.CountCalls("top.Item(2)") == 0);
    CHECK(tree.world.LiveReferences() == 0);
}

TEST_CASE("a null collection raises E_POINTER") {
    Visits visits;
    HRESULT error = S_OK;
    try {
        FolderWalk(DispatchRef(), RecordingVisitor, &visits);
    } catch (const _com_error& raised) {
        error = raised.Error();
    }
    CHECK(error == E_POINTER);
    CHECK(visits.names.empty());
}

namespace {

struct DeepWalk {
    fake::World world;
    fake::Object* top = nullptr;
    Visits visits;
    bool stopped = true;
    bool failed = false;
};

DWORD WINAPI WalkDeepChain(void* parameter) {
    DeepWalk* walk = static_cast<DeepWalk*>(parameter);
    try {
        walk->stopped =
            FolderWalk(DispatchRef(fake::World::Hand(walk->top)), RecordingVisitor, &walk->visits);
    } catch (...) {
        walk->failed = true;
    }
    return 0;
}

} // namespace

TEST_CASE("a chain of 10,000 nested folders is walked on a small stack") {
    const int depth = 10000;
    DeepWalk walk;
    walk.top = walk.world.Collection("top");
    fake::Object* parent = walk.top;
    for (int level = 0; level < depth; ++level)
        parent = walk.world.AddFolder(parent, "d" + std::to_string(level));
    // 256 KB: far too little for one call frame per level.
    HANDLE thread = CreateThread(nullptr, 256 * 1024, WalkDeepChain, &walk,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    REQUIRE(thread != nullptr);
    DWORD waited = WaitForSingleObject(thread, 120000);
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    REQUIRE(waited == WAIT_OBJECT_0);
    CHECK(exitCode == 0);
    CHECK_FALSE(walk.failed);
    CHECK_FALSE(walk.stopped);
    REQUIRE(walk.visits.names.size() == size_t(depth));
    CHECK(walk.visits.names.front() == "d0");
    CHECK(walk.visits.names[5000] == "d5000");
    CHECK(walk.visits.names.back() == "d9999");
    CHECK(walk.world.LiveReferences() == 0);
    CHECK(walk.world.violations.empty());
}
