// Unattended removal end to end (part of quiet_parts_e2e): the default forms reset through
// Outlook's object model where Extended MAPI cannot be used, and the forms Outlook will not
// reset, or resets by half, left to a person and named in the log.
#include <doctest.h>

#include "tests/e2e/QuietRun.h"

#include <algorithm>
#include <string>
#include <vector>

// Four Plendrax forms: one as installed, one whose display name is another, one whose
// display name Outlook refuses to set and one whose class it refuses.
const char FormsProfile[] = R"profile(store "Personal Folders" id=0A0B0C0D
  folder "Tasks" type=3 id=00AA01 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
    item "IPM.Task"
    item "IPM.Task.Plendrax"
  folder "Mine" type=3 id=00AA02 msgclass="IPM.Task.Plendrax" displayname="Plendrax (old)"
    item "IPM.Task.Plendrax"
  folder "Refusing" type=3 id=00AA03 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
  folder "Classless" type=3 id=00AA04 msgclass="IPM.Task.Plendrax" displayname="Plendrax"
    item "IPM.Task.Plendrax"
fail "Personal Folders/Refusing.PropertyAccessor" SetProperties:0x36E6001E *
fail "Personal Folders/Classless.PropertyAccessor" SetProperties:0x36E5001E *
)profile";

TEST_CASE("quiet_manual_steps: without Extended MAPI Outlook resets the forms, exit 0; a form it "
          "cannot reset is named, exit 1") {
    // Outlook of the other bitness, as Click-to-Run records it: MAPI32.DLL is never loaded, and
    // Outlook's own PropertyAccessor resets the form.
    DeleteFileA(DefaultLog().c_str());
    StageOutlook(true);
    REQUIRE(RecordOutlookBitness(OtherBitness(), sandbox::ClickToRunPlatform));
    CHECK(RunQuiet("/quiet /scope=user %" + installDirectory) == 0);
    CHECK(ReadLines(SANDBOX_LOG_DIRECTORY "mapi32.log").empty());
    std::vector<std::string> state = SplitLines(ReadWholeFile(OutlookOut));
    CHECK(CountContaining(state, "folder \"Tasks\"",
                          "msgclass=\"IPM.Task\" displayname=\"Task\"") == 1);
    CHECK(CountContaining(state, "item \"IPM.Task\" saved=1") == 3);
    std::vector<std::string> outlook = ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log");
    for (const char* member : {"PropertyAccessor", "GetProperties", "SetProperties"})
        CHECK(CountContaining(outlook, std::string("member=") + member + " ") == 1);
    std::vector<std::string> events = LogEvents(DefaultLog());
    std::string outlookIs = sandbox::ProcessBitness() == std::string("x86")
                                ? "Outlook is 64-bit, this process is 32-bit"
                                : "Outlook is 32-bit, this process is 64-bit";
    CHECK(CountContaining(events,
                          "Default forms: reset through Outlook's object model (PropertyAccessor); "
                          "Extended MAPI not used: " +
                              outlookIs,
                          "ClickToRun\\Configuration, value Platform") == 1);
    CHECK(CountContaining(events, "default forms reset: 1; Extended MAPI used: no") == 1);
    CHECK(events.back() == "Exit code: 0");

    // Without Extended MAPI at all, both parts: the forms Outlook cannot reset are named, the
    // others reset, every item converted, and the log takes the document's place.
    Restage();
    DeleteFileA(DefaultLog().c_str());
    StageOutlook(false, FormsProfile);
    CHECK(RunQuiet("/quiet %" + installDirectory) == 1);
    CHECK(RecordedStarts().empty());
    std::vector<std::string> traces = Traces();
    // Only the other product's key, the user's own shortcut and the document beside the exe.
    CHECK(CountContaining(traces, ": present") == 3);
    state = SplitLines(ReadWholeFile(OutlookOut));
    CHECK(CountContaining(state, "item \"IPM.Task\" saved=1") == 5);
    CHECK(CountContaining(state, "folder \"Tasks\"",
                          "msgclass=\"IPM.Task\" displayname=\"Task\"") == 1);
    CHECK(CountContaining(state, "folder \"Mine\"", "displayname=\"Plendrax (old)\"") == 1);
    // Outlook set the class and refused the name, or the other way round: half reset.
    CHECK(CountContaining(state, "folder \"Refusing\"",
                          "msgclass=\"IPM.Task\" displayname=\"Plendrax\"") == 1);
    CHECK(CountContaining(state, "folder \"Classless\"",
                          "msgclass=\"IPM.Task.Plendrax\" displayname=\"Task\"") == 1);
    REQUIRE(ReadWholeFile(DefaultLog()).compare(0, 3, "\xEF\xBB\xBF") == 0);
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "Outlook folders walked: 5; task folders visited: 4; items converted: 5; "
                        "items failed: 0; default forms reset: 1; Extended MAPI used: no") == 1);
    CHECK(Count(events, "Default forms: reset through Outlook's object model (PropertyAccessor); "
                        "Extended MAPI not used: it is not installed (the MAPIX value is not "
                        "\"1\")") == 1);
    CHECK(Count(events, "Default form left for a person to reset: folder \"Mine\": its default "
                        "form is \"IPM.Task.Plendrax\", \"Plendrax (old)\", not "
                        "\"IPM.Task.Plendrax\", \"Plendrax\"") == 1);
    CHECK(Count(events, "Default form left for a person to reset: folder \"Refusing\": "
                        "SetProperties did not set its PR_DEF_POST_DISPLAYNAME (error "
                        "0x80004005), but set its PR_DEF_POST_MSGCLASS: the folder is left half "
                        "reset, for a person to finish") == 1);
    CHECK(Count(events, "Default form left for a person to reset: folder \"Classless\": "
                        "SetProperties did not set its PR_DEF_POST_MSGCLASS (error 0x80004005), "
                        "but set its PR_DEF_POST_DISPLAYNAME: the folder is left half reset, for "
                        "a person to finish") == 1);
    CHECK(Count(events, "Outcome: message 7 (not shown: unattended): " +
                            OneLine(UninstallerString(7))) == 1);
    CHECK(events.back() == "Exit code: 1");

    // Run again, nothing is left: every trace reads "not present" and counts as removed; the
    // form Outlook cannot reset is still a person's to finish. The log keeps both runs.
    CHECK(RunQuiet("/quiet %" + installDirectory) == 1);
    events = LogEvents(DefaultLog());
    CHECK(Count(events, "==== Plendrax Uninstall 1.0.0.0: unattended removal ====") == 2);
    CHECK(Count(events, "Exit code: 1") == 2);
    const char* results[] = {"done", "done", "done", "done"};
    auto header = std::find(events.rbegin(), events.rend(),
                            "==== Plendrax Uninstall 1.0.0.0: unattended removal ====");
    std::vector<std::string> second(header.base() - 1, events.end());
    CheckStagesLogged(second, results);
    CHECK(Count(second, "File " + installDirectory + "Setup.exe: not present") == 1);
    CHECK(Count(second, "Shortcut " + ShortcutIn(CSIDL_COMMON_PROGRAMS) + ": not present") == 1);
    CHECK(Count(second, "Outcome: message 7 (not shown: unattended): " +
                            OneLine(UninstallerString(7))) == 1);
}
