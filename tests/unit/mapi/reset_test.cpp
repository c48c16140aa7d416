// The folder default-form reset against the stand-in MAPI32.DLL: what reaches MAPI, what the
// profile holds afterwards, and that every object and buffer is given back on every path.
#include "tests/unit/mapi/MapiFixture.h"

#include <doctest.h>

using namespace mapitest;

namespace {

const char* const Profile = R"(store "Personal Folders" id=0A0B0C0D
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.TASK.PLENDRAX" displayname="plendrax"
  folder "Renamed" type=3 id=00AA02 msgclass="IPM.Task.Plendrax" displayname="Plendrax2"
  folder "Standard" type=3 id=00AA03 msgclass="IPM.Task"
  folder "Classless" type=3 id=00AA04 displayname="Plendrax"
  folder "Nameless" type=3 id=00AA05 msgclass="IPM.Task.Plendrax"
  folder "A message" type=3 id=00AA06 opens=message
)";

const char* const TasksUnchanged =
    "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.TASK.PLENDRAX\" displayname=\"plendrax\"";
const char* const TasksReset =
    "folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" displayname=\"Task\"";

bool Reset(const char* storeId, const char* entryId) {
    return ResetFolderDefaultForm(storeId, entryId, "IPM.Task.Plendrax", "Plendrax", "IPM.Task",
                                  "Task");
}

// Ends the session (unloading the stand-ins, which write profile.out) and checks that
// nothing MAPI handed out was left over.
void ReleaseAndCheckNothingLeaks() {
    ReleaseMapiSession();
    CHECK(Events("MAPIUninitialize") ==
          std::vector<std::string>{"MAPIUninitialize live=0 buffers=0"});
    CHECK(CountEvents("leak") == 0);
    CHECK(CountEvents("MAPIFreeBuffer unknown") == 0);
    REQUIRE_FALSE(Mapi32Log().empty());
    CHECK(Mapi32Log().back() == "detach live=0 buffers=0");
    for (const std::string& line : Mapi32Log())
        CHECK(line.find("after its last release") == std::string::npos);
}

} // namespace

TEST_CASE("a matching default form is rewritten in one SetProps and saved") {
    FreshScenario(Profile);
    CHECK(Reset("0a0b0c0d", "00aa01"));
    CHECK(Mapi32Log().size() >= 9);
    std::vector<std::string> expected = {
        "OpenMsgStore ui=0 id=0A0B0C0D iface=null flags=0x84 -> 0x00000000 "
        "store=\"Personal Folders\"",
        "OpenEntry store=\"Personal Folders\" id=00AA01 iface=null flags=0x1 -> 0x00000000 "
        "type=3",
        "GetProps folder=\"Personal Folders/Tasks\" tags=0x36E5001E,0x36E6001E flags=0x0 -> "
        "0x00000000 buffer=GetProps#1",
        "SetProps folder=\"Personal Folders/Tasks\" count=2 problems=null "
        "0x36E5001E=\"IPM.Task\" 0x36E6001E=\"Task\" -> 0x00000000",
        "SaveChanges folder=\"Personal Folders/Tasks\" flags=0x0 -> 0x00000000",
        "Release folder \"Personal Folders/Tasks\" refs=0",
        "Release store \"Personal Folders\" refs=0",
        "MAPIFreeBuffer GetProps#1",
    };
    std::vector<std::string> log = Mapi32Log();
    int first = EventIndex("OpenMsgStore");
    REQUIRE(first >= 0);
    REQUIRE(log.size() >= first + expected.size());
    CHECK(std::vector<std::string>(log.begin() + first, log.begin() + first + expected.size()) ==
          expected);
    ReleaseAndCheckNothingLeaks();
    CHECK(ProfileFolderLine("Tasks") == TasksReset);
}

TEST_CASE("upper- and lower-case ids reach MAPI as the same bytes") {
    FreshScenario(Profile);
    CHECK(Reset("0A0B0C0D", "00AA01"));
    CHECK(CountEvents("OpenMsgStore ui=0 id=0A0B0C0D ") == 1);
    CHECK(CountEvents("OpenEntry store=\"Personal Folders\" id=00AA01 ") == 1);
    ReleaseAndCheckNothingLeaks();
}

TEST_CASE("ids that decode to no bytes reach MAPI with zero length, never as null") {
    FreshScenario(Profile);
    // No store is named by no bytes.
    CHECK_FALSE(Reset("", "00AA01"));
    CHECK(CountEvents("OpenMsgStore ui=0 id= iface=null flags=0x84 -> 0x80040107") == 1);
    // A null entry id would open the store's root folder instead: an empty id and a single
    // digit (whose odd last digit is dropped) both name nothing.
    CHECK_FALSE(Reset("0A0B0C0D", ""));
    CHECK_FALSE(Reset("0A0B0C0D", "7"));
    CHECK(CountEvents("OpenEntry store=\"Personal Folders\" id= iface=null flags=0x1 -> "
                      "0x80040107") == 2);
    CHECK(CountEvents("id=null") == 0);
    CHECK(CountEvents("GetProps") == 0);
    ReleaseAndCheckNothingLeaks();
    CHECK(ProfileFolderLine("Tasks") == TasksUnchanged);
}

TEST_CASE("an odd last digit is dropped on the way to MAPI") {
    FreshScenario(Profile);
    CHECK(Reset("0A0B0C0D7", "00AA01F"));
    CHECK(CountEvents("OpenMsgStore ui=0 id=0A0B0C0D ") == 1);
    CHECK(CountEvents("OpenEntry store=\"Personal Folders\" id=00AA01 ") == 1);
    ReleaseAndCheckNothingLeaks();
    CHECK(ProfileFolderLine("Tasks") == TasksReset);
}

TEST_CASE("a default form other than the expected one is left alone") {
    FreshScenario(Profile);
    SUBCASE("display name differs") {
        CHECK_FALSE(Reset("0A0B0C0D", "00AA02"));
    }
    SUBCASE("class differs, display name absent and not looked at") {
        CHECK_FALSE(Reset("0A0B0C0D", "00AA03"));
        CHECK(CountEvents("GetProps folder=\"Personal Folders/Standard\" "
                          "tags=0x36E5001E,0x36E6001E flags=0x0 -> 0x00040380") == 1);
    }
    SUBCASE("class absent") {
        CHECK_FALSE(Reset("0A0B0C0D", "00AA04"));
    }
    SUBCASE("display name absent") {
        CHECK_FALSE(Reset("0A0B0C0D", "00AA05"));
    }
    CHECK(CountEvents("GetProps") == 1);
    CHECK(CountEvents("SetProps") == 0);
    CHECK(CountEvents("SaveChanges") == 0);
    CHECK(CountEvents("Release folder") == 1);
    CHECK(CountEvents("Release store") == 1);
    CHECK(CountEvents("MAPIFreeBuffer GetProps#1") == 1);
    ReleaseAndCheckNothingLeaks();
    CHECK(ProfileOut().find("msgclass=\"IPM.Task.Plendrax\" displayname=\"Plendrax2\"") !=
          std::string::npos);
}

TEST_CASE("an entry id naming a message is released with its store") {
    FreshScenario(Profile);
    CHECK_FALSE(Reset("0A0B0C0D", "00AA06"));
    CHECK(CountEvents("OpenEntry store=\"Personal Folders\" id=00AA06 iface=null flags=0x1 -> "
                      "0x00000000 type=5") == 1);
    CHECK(CountEvents("GetProps") == 0);
    CHECK(EventIndex("Release message \"Personal Folders/A message\" refs=0") <
          EventIndex("Release store \"Personal Folders\" refs=0"));
    CHECK(EventIndex("Release message") >= 0);
    ReleaseAndCheckNothingLeaks();
}

TEST_CASE("every MAPI failure gives false and gives everything back") {
    std::string fault;
    std::string lastCall;
    SUBCASE("OpenMsgStore") {
        fault = "fail session OpenMsgStore 1\n";
        lastCall = "OpenMsgStore";
    }
    SUBCASE("OpenEntry") {
        fault = "fail \"Personal Folders\" OpenEntry 1\n";
        lastCall = "OpenEntry";
    }
    SUBCASE("GetProps") {
        fault = "fail \"Personal Folders/Tasks\" GetProps 1\n";
        lastCall = "GetProps";
    }
    SUBCASE("SetProps") {
        fault = "fail \"Personal Folders/Tasks\" SetProps 1\n";
        lastCall = "SetProps";
    }
    SUBCASE("SaveChanges") {
        fault = "fail \"Personal Folders/Tasks\" SaveChanges 1\n";
        lastCall = "SaveChanges";
    }
    SUBCASE("an unknown store") {
        lastCall = "OpenMsgStore";
        FreshScenario(Profile);
        CHECK_FALSE(Reset("0A0B0C0E", "00AA01"));
    }
    SUBCASE("an unknown entry") {
        lastCall = "OpenEntry";
        FreshScenario(Profile);
        CHECK_FALSE(Reset("0A0B0C0D", "00AA99"));
    }
    if (!fault.empty()) {
        FreshScenario(std::string(Profile) + fault);
        CHECK_FALSE(Reset("0A0B0C0D", "00AA01"));
        REQUIRE(Events(lastCall).size() == 1);
        CHECK(Events(lastCall)[0].find("-> 0x80004005") != std::string::npos);
    }
    // Nothing after the failing call.
    const char* const calls[] = {"OpenMsgStore", "OpenEntry", "GetProps", "SetProps",
                                 "SaveChanges"};
    bool after = false;
    for (const char* call : calls) {
        CHECK(CountEvents(call) == (after ? 0u : 1u));
        after = after || lastCall == call;
    }
    bool fetched = lastCall == "SetProps" || lastCall == "SaveChanges";
    CHECK(CountEvents("MAPIFreeBuffer GetProps#1") == (fetched ? 1u : 0u));
    ReleaseAndCheckNothingLeaks();
    // A folder is not transacted: SetProps has changed it before SaveChanges fails.
    CHECK(ProfileFolderLine("Tasks") == (lastCall == "SaveChanges" ? TasksReset : TasksUnchanged));
}

TEST_CASE("without a session the reset makes no MAPI call") {
    FreshScenario(Profile);
    DeleteMapix();
    CHECK_FALSE(Reset("0A0B0C0D", "00AA01"));
    SetMapixText("1");
    CHECK_FALSE(Reset("0A0B0C0D", "00AA01"));
    CHECK(Mapi32Log().empty());
    CHECK_FALSE(MapiSessionExists());
}

TEST_CASE("the folder's new default form is what the profile serves next") {
    FreshScenario(Profile);
    REQUIRE(Reset("0A0B0C0D", "00AA01"));
    // A second reset finds the new values and so changes nothing more.
    CHECK_FALSE(Reset("0A0B0C0D", "00AA01"));
    CHECK(CountEvents("GetProps folder=\"Personal Folders/Tasks\"") == 2);
    CHECK(CountEvents("SetProps") == 1);
    ReleaseAndCheckNothingLeaks();
}

TEST_CASE("a MAPI that reports success but hands back nothing gives false, not a crash") {
    std::string fault;
    SUBCASE("no store") {
        fault = "fail session OpenMsgStore 1 0\n";
    }
    SUBCASE("no folder") {
        fault = "fail \"Personal Folders\" OpenEntry 1 0\n";
    }
    SUBCASE("no properties") {
        fault = "fail \"Personal Folders/Tasks\" GetProps 1 0\n";
    }
    FreshScenario(std::string(Profile) + fault);
    CHECK_FALSE(Reset("0A0B0C0D", "00AA01"));
    CHECK(CountEvents("SetProps") == 0);
    CHECK(CountEvents("MAPIFreeBuffer unknown") == 0);
    ReleaseAndCheckNothingLeaks();
    CHECK(ProfileFolderLine("Tasks") == TasksUnchanged);
}
