// The shared sandbox profile: reading the text format, the folder tree, items, faults and the
// written-back state.
#include "sandbox/profile/Profile.h"
#include "tests/unit/mapi/MapiFixture.h"

#include <doctest.h>

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
