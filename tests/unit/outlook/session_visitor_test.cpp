// The task folder visitor's default-form step with an Extended MAPI session: the real MAPI
// layer against the stand-in MAPI32.DLL from the build's sandbox directory, whose profile
// holds the folder that the in-test Outlook folder names by its store and entry ids.
#include <doctest.h>

#include "tests/support/SandboxState.h"
#include "FakeOutlook.h"
#include "mapi/MapiSession.h"
#include "outlook/TaskFolderVisitor.h"

#include <windows.h>

#include <string>

using fake::Behaviour;
using fake::Misbehaviour;

namespace {

const char PlendraxFolder[] = "store \"Personal Folders\" id=0A0B0C0D\r\n"
                              "  folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task.Plendrax\" "
                              "displayname=\"Plendrax\"\r\n";
const char ResetLine[] =
    "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" displayname=\"Task\"";
const char UntouchedLine[] = "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task.Plendrax\" "
                             "displayname=\"Plendrax\"";

// Extended MAPI present, the stand-in on the search path, the given profile loaded afresh.
void WithExtendedMapi(const std::string& profile) {
    ReleaseMapiSession();
    CreateDirectoryA("C:\\sandbox", nullptr);
    CreateDirectoryA("C:\\sandbox\\log", nullptr);
    DeleteFileA("C:\\sandbox\\log\\profile.out");
    DeleteFileA("C:\\sandbox\\log\\mapi32.log");
    CreateFileWithText("C:\\sandbox\\profile.txt", profile);
    SetExtendedMapi(true);
    // The build's sandbox directory, three levels above this program.
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length);
    directory.erase(directory.find_last_of("\\/") + 1);
    SetDllDirectoryA((directory + "..\\..\\..\\sandbox").c_str());
}

// Ends the session; the stand-in writes the profile's state when it is unloaded.
std::string FolderStateAfterwards() {
    ReleaseMapiSession();
    std::string text = ReadWholeFile("C:\\sandbox\\log\\profile.out");
    size_t at = text.find("folder \"Tasks\"");
    return at == std::string::npos ? "<none>" : text.substr(at, text.find("\r\n", at) - at);
}

bool MapiWasAsked() {
    return ReadWholeFile("C:\\sandbox\\log\\mapi32.log").find("OpenMsgStore") != std::string::npos;
}

struct TaskFolder {
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    fake::Object* item = world.AddItem(folder, "i1", L"IPM.Task.Plendrax");
    TaskFolder() { folder->defaultForm = L"IPM.Task.Plendrax"; }
    bool Visit(bool* manualSteps) {
        ConversionFigures figures;
        ConversionContext context{manualSteps, false, &figures};
        return TaskFolderVisitor(DispatchRef(fake::World::Hand(folder)), &context);
    }
    size_t Position(const std::string& call) const {
        for (size_t n = 0; n < world.calls.size(); ++n)
            if (world.calls[n] == call)
                return n;
        return world.calls.size();
    }
};

} // namespace

TEST_CASE("the Plendrax default form is reset before the items are converted") {
    WithExtendedMapi(PlendraxFolder);
    TaskFolder tasks;
    bool manualSteps = false;
    CHECK(tasks.Visit(&manualSteps));
    CHECK_FALSE(manualSteps);
    CHECK(tasks.world.CountCalls("Tasks.new1.Close(1)") == 1);
    CHECK(tasks.Position("Tasks.EntryID") < tasks.Position("Tasks.StoreID"));
    CHECK(tasks.Position("Tasks.StoreID") < tasks.Position("Tasks.Items.Item(1)"));
    CHECK(tasks.item->saves == 1);
    CHECK(tasks.world.violations.empty());
    CHECK(tasks.world.LiveReferences() == 0);
    CHECK(FolderStateAfterwards() == ResetLine);
}

TEST_CASE("a reset that finds other values sets the flag; the items are still converted") {
    std::string profile = PlendraxFolder;
    profile.replace(profile.find("\"Plendrax\"\r"), 10, "\"Mine\"");
    WithExtendedMapi(profile);
    TaskFolder tasks;
    bool manualSteps = false;
    CHECK(tasks.Visit(&manualSteps));
    CHECK(manualSteps);
    CHECK(tasks.item->saves == 1);
    CHECK(tasks.world.LiveReferences() == 0);
    CHECK(FolderStateAfterwards().find("displayname=\"Mine\"") != std::string::npos);
}

TEST_CASE("the standard default form: one temporary item, no reset, no flag") {
    WithExtendedMapi(PlendraxFolder);
    TaskFolder tasks;
    tasks.folder->defaultForm = L"IPM.Task";
    bool manualSteps = false;
    CHECK(tasks.Visit(&manualSteps));
    CHECK_FALSE(manualSteps);
    CHECK(tasks.world.itemsCreated == 1);
    CHECK(tasks.world.CountCalls("Tasks.new1.Close(1)") == 1);
    CHECK(tasks.world.CountCalls("Tasks.EntryID") == 0);
    CHECK(tasks.item->saves == 1);
    CHECK(tasks.world.LiveReferences() == 0);
    CHECK_FALSE(MapiWasAsked());
    CHECK(FolderStateAfterwards() == UntouchedLine);
}

TEST_CASE("failures in the default-form step set the flag and make no reset") {
    WithExtendedMapi(PlendraxFolder);
    TaskFolder tasks;
    SUBCASE("no entry id at all") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        tasks.world.Set("Tasks", "EntryID", null);
    }
    SUBCASE("no store id at all") {
        Behaviour null;
        null.what = Misbehaviour::NullResult;
        tasks.world.Set("Tasks", "StoreID", null);
    }
    SUBCASE("an entry id cut short by an embedded zero") {
        tasks.folder->entryId = std::wstring(L"00\0AA01", 7);
    }
    SUBCASE("StoreID fails") {
        tasks.world.Fail("Tasks", "StoreID");
    }
    SUBCASE("the temporary item has no IDispatch") {
        tasks.folder->items->newItemsRefuseDispatch = true;
    }
    SUBCASE("closing the temporary item fails") {
        tasks.world.Fail("Tasks.new1", "Close");
    }
    bool manualSteps = false;
    CHECK(tasks.Visit(&manualSteps));
    CHECK(manualSteps);
    CHECK_FALSE(MapiWasAsked());
    CHECK(tasks.item->saves == 1);
    CHECK(tasks.world.LiveReferences() == 0);
    CHECK(FolderStateAfterwards() == UntouchedLine);
}

TEST_CASE("an empty task folder still has its default form probed") {
    WithExtendedMapi(PlendraxFolder);
    fake::World world;
    fake::Object* folder = world.Folder("Tasks");
    folder->defaultForm = L"IPM.Task.Plendrax";
    bool manualSteps = false;
    ConversionFigures figures;
    ConversionContext context{&manualSteps, false, &figures};
    CHECK(TaskFolderVisitor(DispatchRef(fake::World::Hand(folder)), &context));
    CHECK_FALSE(manualSteps);
    CHECK(world.CountCalls("Tasks.Items.Add()") == 1);
    CHECK(world.LiveReferences() == 0);
    CHECK(FolderStateAfterwards() == ResetLine);
}
