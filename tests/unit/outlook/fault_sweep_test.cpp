// Fault sweep of the Outlook stage: the conversion run against the stand-in Outlook server and
// the stand-in MAPI32.DLL over one reference profile, once for every call that a clean run
// makes, with exactly that call failing. Each run is a fresh process of this program (so that
// the process-wide MAPI latch starts clear and a crash or a hang shows); the parent compares
// what the run left with what a failure at that place must leave.
#define DOCTEST_CONFIG_IMPLEMENT
#include "tests/DoctestMain.h"

#include "tests/support/SandboxState.h"
#include "mapi/MapiSession.h"
#include "outlook/ConversionRun.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char ReferenceProfile[] =
    "store \"Personal Folders\" id=0A0B0C0D\r\n"
    "  folder \"Inbox\" type=0\r\n"
    "    item \"IPM.Task.Plendrax\"\r\n"
    "  folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task.Plendrax\" "
    "displayname=\"Plendrax\"\r\n"
    "    item \"IPM.Task.Plendrax\"\r\n"
    "    item \"IPM.Task\"\r\n"
    "    item \"IPM.Task.Plendrax\"\r\n"
    "    folder \"Sub\" type=3 id=00AA02\r\n"
    "      item \"IPM.Task.Plendrax\"\r\n"
    "  folder \"Locked\" type=3 id=00AA05 access=no\r\n"
    "    item \"IPM.Task.Plendrax\"\r\n"
    "  folder \"Later\" type=3 id=00AA03\r\n"
    "    item \"ipm.task.plendrax\"\r\n"
    "    item \"IPM.Task.Plendrax\"\r\n"
    "store \"Archive\" id=0E0F\r\n"
    "  folder \"Old\" type=3 id=00AA04 msgclass=\"IPM.Task.Plendrax\" displayname=\"Plendrax\"\r\n"
    "    item \"IPM.Task.Plendrax\"\r\n";

// What a clean run converts and resets.
const std::set<std::string> CleanConverted = {
    "Personal Folders/Tasks#1", "Personal Folders/Tasks#3", "Personal Folders/Tasks/Sub#1",
    "Personal Folders/Later#2", "Archive/Old#1"};
const std::set<std::string> CleanResets = {"Personal Folders/Tasks", "Archive/Old"};

const char ServerKey[] = "CLSID\\{0006F03A-0000-0000-C000-000000000046}\\InprocServer32";
const char ChildReport[] = "C:\\sandbox\\log\\sweep-child.txt";
const DWORD ChildLimitMs = 60000;

// The build's sandbox directory (stand-ins and the profile DLL), three levels above this
// program.
std::string SandboxBuildDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length);
    directory.erase(directory.find_last_of("\\/") + 1);
    char full[MAX_PATH];
    GetFullPathNameA((directory + "..\\..\\..\\sandbox\\").c_str(), sizeof full, full, nullptr);
    return full;
}

// ---- The child: one conversion run, reported to ChildReport. ----

int RunChild() {
    std::string sandbox = SandboxBuildDirectory();
    SetDllDirectoryA(sandbox.c_str());
    // Held for the whole process, so that the live counts can still be read after COM and the
    // session have let go of the stand-ins.
    HMODULE outlook = LoadLibraryA((sandbox + "OutlookStandin.dll").c_str());
    HMODULE mapi = LoadLibraryA("MAPI32.DLL");
    if (outlook == nullptr || mapi == nullptr)
        return 3;
    using Count = long (*)();
    // Through void*: FARPROC's own type differs between the 32-bit and the 64-bit build.
    auto entry = [](HMODULE module, const char* name) {
        return reinterpret_cast<Count>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    };
    auto outlookLive = entry(outlook, "SandboxLiveObjects");
    auto mapiLive = entry(mapi, "SandboxLiveObjects");
    auto mapiBuffers = entry(mapi, "SandboxLiveBuffers");
    auto flush = reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("SandboxProfile.dll"), "SandboxFlushProfile"));
    if (!outlookLive || !mapiLive || !mapiBuffers || !flush)
        return 4;

    bool manualSteps = false;
    ConversionFigures figures;
    bool result = ConversionRun(&manualSteps, ConversionRequest(), figures);
    bool session = MapiSessionExists();
    long mapiAfterRun = mapiLive();
    long buffersAfterRun = mapiBuffers();
    ReleaseMapiSession();
    flush();
    char report[500];
    snprintf(report, sizeof report,
             "result=%d manual=%d session=%d outlook_live=%ld mapi_live=%ld mapi_buffers=%ld "
             "mapi_live_released=%ld mapi_buffers_released=%ld reached=%d walked=%ld "
             "task_folders=%ld converted=%ld items_failed=%ld resets=%ld mapi_used=%d",
             result ? 1 : 0, manualSteps ? 1 : 0, session ? 1 : 0, outlookLive(), mapiAfterRun,
             buffersAfterRun, mapiLive(), mapiBuffers(), figures.outlookReached ? 1 : 0,
             figures.foldersWalked, figures.taskFolders, figures.itemsConverted,
             figures.itemsFailed, figures.formsReset, figures.extendedMapiUsed ? 1 : 0);
    return CreateFileWithText(ChildReport, report) ? 0 : 5;
}

// ---- The parent. ----

struct ChildRun {
    bool hung = false;
    bool crashed = false; // ended other than by returning 0 with a report
    DWORD exitCode = 0;
    std::map<std::string, long> report;
    std::string profile; // profile.out
    std::string calls;   // calls.log
};

ChildRun RunOnce(const std::string& failCall) {
    DeleteFileA(ChildReport);
    DeleteFileA("C:\\sandbox\\log\\profile.out");
    DeleteFileA("C:\\sandbox\\log\\calls.log");
    SetEnvironmentVariableA("SANDBOX_FAIL_CALL", failCall.empty() ? nullptr : failCall.c_str());
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string commandLine = std::string("\"") + self + "\" --child";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ChildRun run;
    REQUIRE(CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process));
    if (WaitForSingleObject(process.hProcess, ChildLimitMs) != WAIT_OBJECT_0) {
        run.hung = true;
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, ChildLimitMs);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::istringstream fields(ReadWholeFile(ChildReport));
    std::string field;
    while (fields >> field) {
        size_t equals = field.find('=');
        if (equals != std::string::npos)
            run.report[field.substr(0, equals)] = atol(field.c_str() + equals + 1);
    }
    run.crashed = !run.hung && (run.exitCode != 0 || run.report.size() != 15);
    run.profile = ReadWholeFile("C:\\sandbox\\log\\profile.out");
    run.calls = ReadWholeFile("C:\\sandbox\\log\\calls.log");
    return run;
}

// One call a stand-in asked the fault table about, in the order of the clean run.
struct Call {
    std::string standin;
    int number = 0;
    std::string object;
    std::string member;
};

std::vector<Call> ParseCalls(const std::string& text) {
    std::vector<Call> calls;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t open = line.find('"'), close = line.rfind('"');
        if (open == std::string::npos || close == open)
            continue;
        Call call;
        std::istringstream head(line.substr(0, open));
        head >> call.standin >> call.number;
        call.object = line.substr(open + 1, close - open - 1);
        std::istringstream tail(line.substr(close + 1));
        tail >> call.member;
        calls.push_back(call);
    }
    return calls;
}

// The state a run left: every item by path ("Store/Folder#N") with its class and saved count,
// every folder's default class.
struct ProfileState {
    std::map<std::string, std::pair<std::string, int>> items;
    std::map<std::string, std::string> folderClass;
};

std::string QuotedValue(const std::string& line, size_t from) {
    size_t open = line.find('"', from);
    std::string value;
    for (size_t i = open + 1; open != std::string::npos && i < line.size() && line[i] != '"'; ++i)
        value += line[i] == '\\' && i + 1 < line.size() ? line[++i] : line[i];
    return value;
}

ProfileState ParseState(const std::string& text) {
    ProfileState state;
    std::vector<std::pair<size_t, std::string>> open; // indent, path
    std::map<std::string, int> itemCount;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos || line[indent] == '#')
            continue;
        while (!open.empty() && open.back().first >= indent)
            open.pop_back();
        if (line.compare(indent, 6, "store ") == 0) {
            open.push_back({indent, QuotedValue(line, indent)});
        } else if (line.compare(indent, 7, "folder ") == 0 && !open.empty()) {
            std::string path = open.back().second + "/" + QuotedValue(line, indent);
            size_t msgclass = line.find(" msgclass=");
            state.folderClass[path] =
                msgclass == std::string::npos ? "" : QuotedValue(line, msgclass);
            open.push_back({indent, path});
        } else if (line.compare(indent, 5, "item ") == 0 && !open.empty()) {
            std::string path =
                open.back().second + "#" + std::to_string(++itemCount[open.back().second]);
            size_t saved = line.find(" saved=");
            state.items[path] = {QuotedValue(line, indent),
                                 saved == std::string::npos ? -1 : atoi(line.c_str() + saved + 7)};
        }
    }
    return state;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Before(const std::string& text, const std::string& mark) {
    return text.substr(0, text.rfind(mark));
}

// The folder path an item or a folder's collection belongs to.
std::string OwnerFolder(const std::string& object) {
    if (object.find('#') != std::string::npos)
        return object.substr(0, object.find('#'));
    if (EndsWith(object, ".Items"))
        return Before(object, ".Items");
    return object;
}

bool Under(const std::string& path, const std::string& folder) {
    return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0 ||
           path.compare(0, folder.size() + 1, folder + "#") == 0;
}

// What a failure of the clean run's call at position failed must leave, by the failure rules
// of the conversion run, the walk, the visitor and the MAPI layer.
struct Expectation {
    std::string place; // why, for messages
    bool result = true;
    bool manualSteps = false;
    std::set<std::string> converted = CleanConverted;
    std::set<std::string> resets = CleanResets;
};

Expectation Expect(const std::vector<Call>& clean, size_t failed) {
    const Call& call = clean[failed];
    int occurrence = 0;
    for (size_t n = 0; n <= failed; ++n)
        occurrence += clean[n].object == call.object && clean[n].member == call.member;
    std::set<std::string> temporaryItems;
    for (const Call& c : clean)
        if (c.member == "Close")
            temporaryItems.insert(c.object);

    Expectation expect;
    auto fatal = [&](const char* why) {
        expect.place = why;
        expect.result = false;
        expect.manualSteps = true;
        expect.converted.clear();
        expect.resets.clear();
        for (size_t n = 0; n < failed; ++n) {
            if (clean[n].member == "Save")
                expect.converted.insert(clean[n].object);
            if (clean[n].member == "SaveChanges")
                expect.resets.insert(clean[n].object);
        }
    };
    auto noReset = [&](const std::string& folder, bool flag, const char* why) {
        expect.place = why;
        expect.resets.erase(folder);
        expect.manualSteps = flag;
    };
    // A class written and not saved stays the item's own: the store keeps the old one.
    auto skipItem = [&](const std::string& item, const char* why) {
        expect.place = why;
        expect.converted.erase(item);
    };

    if (call.standin == "mapi32") {
        if (call.object == "mapi32") {
            expect.place = "no MAPI session";
            expect.resets.clear();
            expect.manualSteps = true;
            return expect;
        }
        // The reset under way: the one for the folder whose StoreID was read last.
        std::string folder;
        for (size_t n = 0; n < failed; ++n)
            if (clean[n].member == "StoreID")
                folder = clean[n].object;
        noReset(folder, true, "reset fails");
        // Folders are not transacted: what SetProps wrote stays when SaveChanges then fails.
        if (call.member == "SaveChanges")
            expect.resets.insert(folder);
        return expect;
    }
    const std::string& object = call.object;
    const std::string& member = call.member;
    if (object == "outlook" || object == "namespace" || EndsWith(object, ".Folders") ||
        member == "Folders")
        fatal("start or walk");
    else if (member == "DefaultItemType" && occurrence == 1) {
        expect.place = "inaccessible folder";
        for (const std::string& item : CleanConverted)
            if (Under(item, object))
                expect.converted.erase(item);
        for (const std::string& folder : CleanResets)
            if (Under(folder, object))
                expect.resets.erase(folder);
    } else if (member == "DefaultItemType" || (member == "Items" && occurrence == 1) ||
               member == "Count")
        fatal("visitor's folder reads");
    else if (member == "Items" || member == "Add" || EndsWith(object, ".FormDescription") ||
             (temporaryItems.count(object) && member == "FormDescription"))
        noReset(OwnerFolder(Before(object, ".FormDescription")), false, "probe answers no");
    else if (temporaryItems.count(object) || member == "EntryID" || member == "StoreID")
        noReset(OwnerFolder(object), true, "probe or ids fail");
    else if (EndsWith(object, ".Items") && member == "Item")
        skipItem(OwnerFolder(object) + "#" + std::to_string(occurrence), "item fetch fails");
    else if (object.find('#') != std::string::npos)
        skipItem(object, "item fails");
    else
        expect.place = "unknown call";
    return expect;
}

struct Figures {
    int points = 0, crashes = 0, hangs = 0, leaks = 0, wrong = 0;
};

void CheckRun(const std::vector<Call>& clean, size_t failed, const ChildRun& run,
              Figures& figures) {
    const Call& call = clean[failed];
    Expectation expect = Expect(clean, failed);
    INFO("failing ", call.standin, " call ", call.number, ": ", call.object, " ", call.member, " (",
         expect.place, ")");
    ++figures.points;
    figures.hangs += run.hung;
    figures.crashes += run.crashed;
    CHECK_FALSE(run.hung);
    CHECK_FALSE(run.crashed);
    CHECK(expect.place != "unknown call");
    if (run.hung || run.crashed)
        return;
    int failures = 0;
    auto check = [&](bool good, const std::string& what) {
        if (!good) {
            ++failures;
            FAIL_CHECK(what);
        }
    };
    std::map<std::string, long> r = run.report;
    check(r["result"] == expect.result, "result " + std::to_string(r["result"]));
    check(r["manual"] == expect.manualSteps, "manual steps " + std::to_string(r["manual"]));
    // The application and everything fetched through it are released on every path; only the
    // catch-all keeps the MAPI session, and nothing else of MAPI.
    bool leaked = r["outlook_live"] != 0 || r["mapi_buffers"] != 0 ||
                  r["mapi_live"] != (r["result"] ? 0 : r["session"]) ||
                  (r["result"] && r["session"]) || r["mapi_live_released"] != 0 ||
                  r["mapi_buffers_released"] != 0;
    figures.leaks += leaked;
    check(!leaked, "live references: outlook " + std::to_string(r["outlook_live"]) + ", mapi " +
                       std::to_string(r["mapi_live"]) + " objects " +
                       std::to_string(r["mapi_buffers"]) + " buffers");
    ProfileState state = ParseState(run.profile);
    check(!state.items.empty(), "no profile state");
    for (const auto& item : state.items) {
        const std::string& path = item.first;
        int saved = item.second.second;
        check(saved <= 1, path + " saved " + std::to_string(saved) + " times");
        if (!CleanConverted.count(path)) {
            check(saved == 0, path + " saved though not a Plendrax task");
        } else if (expect.converted.count(path)) {
            check(item.second.first == "IPM.Task" && saved == 1, path + " not converted");
        } else {
            check(item.second.first == "IPM.Task.Plendrax" && saved == 0,
                  path + " converted after the failure");
        }
    }
    long resets = 0;
    for (const std::string& folder : CleanResets) {
        bool reset = state.folderClass[folder] == "IPM.Task";
        resets += reset;
        check(reset == (expect.resets.count(folder) != 0),
              folder + (reset ? " reset" : " not reset"));
    }
    // The figures the log shows tell what the run did, whatever failed.
    long saved = 0;
    for (const auto& item : state.items)
        saved += item.second.second == 1;
    check(r["converted"] == saved, "items counted as converted " + std::to_string(r["converted"]));
    // A reset counts when it reported success: one whose SaveChanges failed has still written
    // the folder (folders are not transacted), but the run was told that it failed.
    if (call.standin == "mapi32" && call.member == "SaveChanges")
        --resets;
    check(r["resets"] == resets, "forms counted as reset " + std::to_string(r["resets"]));
    bool itemSkipped = expect.place == "item fetch fails" || expect.place == "item fails";
    check(r["items_failed"] == (itemSkipped ? 1 : 0),
          "items counted as failed " + std::to_string(r["items_failed"]));
    check(r["mapi_used"] == (r["result"] ? expect.place != "no MAPI session" : r["session"]),
          "Extended MAPI counted as used " + std::to_string(r["mapi_used"]));
    figures.wrong += failures != 0;
}

void Prepare() {
    std::string sandbox = SandboxBuildDirectory();
    CreateDirectoryA("C:\\sandbox", nullptr);
    CreateDirectoryA("C:\\sandbox\\log", nullptr);
    REQUIRE(CreateFileWithText("C:\\sandbox\\profile.txt", ReferenceProfile));
    SetExtendedMapi(true);
    // The build's own stand-in, found beside the profile DLL it imports.
    SetStringValue(HKEY_CLASSES_ROOT, ServerKey, nullptr, (sandbox + "OutlookStandin.dll").c_str());
    SetStringValue(HKEY_CLASSES_ROOT, ServerKey, "ThreadingModel", "Apartment");
}

std::vector<Call> CleanRun() {
    Prepare();
    ChildRun run = RunOnce("");
    REQUIRE_FALSE(run.hung);
    REQUIRE_FALSE(run.crashed);
    CHECK(run.report["result"] == 1);
    CHECK(run.report["manual"] == 0);
    CHECK(run.report["outlook_live"] == 0);
    CHECK(run.report["mapi_live"] == 0);
    // The two stores' top folders and the five accessible ones below them; four task folders.
    CHECK(run.report["reached"] == 1);
    CHECK(run.report["walked"] == 7);
    CHECK(run.report["task_folders"] == 4);
    CHECK(run.report["converted"] == 5);
    CHECK(run.report["items_failed"] == 0);
    CHECK(run.report["resets"] == 2);
    CHECK(run.report["mapi_used"] == 1);
    ProfileState state = ParseState(run.profile);
    for (const std::string& item : CleanConverted)
        CHECK(state.items[item] == std::make_pair(std::string("IPM.Task"), 1));
    for (const std::string& folder : CleanResets)
        CHECK(state.folderClass[folder] == "IPM.Task");
    std::vector<Call> calls = ParseCalls(run.calls);
    REQUIRE(!calls.empty());
    return calls;
}

// A MAPI call that reports success and hands back nothing (a null session, store or folder, an
// empty property array): whatever the reset makes of it, the items are all converted, the
// stage succeeds, nothing crashes and nothing is left referenced.
void CheckBrokenRun(const Call& call, const ChildRun& run, Figures& figures) {
    INFO("broken mapi32 call ", call.number, ": ", call.object, " ", call.member);
    ++figures.points;
    figures.hangs += run.hung;
    figures.crashes += run.crashed;
    CHECK_FALSE(run.hung);
    CHECK_FALSE(run.crashed);
    if (run.hung || run.crashed)
        return;
    std::map<std::string, long> r = run.report;
    CHECK(r["result"] == 1);
    bool leaked = r["outlook_live"] != 0 || r["mapi_live"] != 0 || r["mapi_buffers"] != 0 ||
                  r["mapi_live_released"] != 0 || r["mapi_buffers_released"] != 0;
    figures.leaks += leaked;
    CHECK_FALSE(leaked);
    int wrong = 0;
    ProfileState state = ParseState(run.profile);
    for (const auto& item : state.items) {
        bool plendrax = CleanConverted.count(item.first) != 0;
        wrong += item.second.second != (plendrax ? 1 : 0);
        CHECK(item.second.second == (plendrax ? 1 : 0));
    }
    figures.wrong += wrong != 0;
}

void Sweep(const char* standin, const char* result = "") {
    std::vector<Call> clean = CleanRun();
    Figures figures;
    for (size_t n = 0; n < clean.size(); ++n) {
        if (clean[n].standin != standin)
            continue;
        ChildRun run = RunOnce(std::string(standin) + ":" + std::to_string(clean[n].number) +
                               (*result ? ":" : "") + result);
        if (*result)
            CheckBrokenRun(clean[n], run, figures);
        else
            CheckRun(clean, n, run, figures);
    }
    CHECK(figures.points > 0);
    printf("fault sweep over %s%s%s: %d points injected, %d crashes, %d hangs, %d runs with "
           "leaks, %d runs with a wrong outcome\n",
           standin, *result ? " answering " : "", result, figures.points, figures.crashes,
           figures.hangs, figures.leaks, figures.wrong);
    fflush(stdout);
}

} // namespace

TEST_CASE("sweep_outlook: every call of the Outlook stand-in failing in turn") {
    Sweep("outlook");
}

TEST_CASE("sweep_mapi32: every call of the stand-in MAPI32 failing in turn") {
    Sweep("mapi32");
    // The same calls again, each reporting success but handing back nothing.
    Sweep("mapi32", "0");
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--child") == 0)
        return RunChild();
    return doctest_main::Run(argc, argv);
}
