// The MAPI session: the registry test, library loading, logon, the failure latch and the
// teardown, against the stand-in MAPI32.DLL and the prefix's real registry.
#include "tests/unit/mapi/MapiFixture.h"

#include <doctest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace mapitest;

namespace {

const char* const EmptyProfile = "";

// Reads "MAPIX" into the first 100 bytes of a larger buffer whose tail must stay untouched.
std::string ReadMapixGuarded(bool* tailIntact) {
    char buffer[140];
    memset(buffer, 'X', sizeof buffer);
    ReadRegistryString(SubsystemKey, "MAPIX", "0", HKEY_LOCAL_MACHINE, buffer, 100);
    *tailIntact = true;
    for (size_t i = 100; i < sizeof buffer; ++i)
        *tailIntact = *tailIntact && buffer[i] == 'X';
    return std::string(buffer, strnlen(buffer, 100));
}

// The first message box shown on this thread while the watch lasts, as a person sees it,
// answered with OK from a thread of its own so that the call showing it returns.
class BoxWatch {
  public:
    std::string caption, text;
    bool errorIcon = false;

    BoxWatch() : owner(GetCurrentThreadId()), watcher([this] { Watch(); }) {}
    ~BoxWatch() {
        stop = true;
        watcher.join();
    }
    bool Seen() const { return seen; }

  private:
    static BOOL CALLBACK Take(HWND window, LPARAM found) {
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "#32770") != 0 || GetDlgItem(window, 0xFFFF) == nullptr)
            return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    void Watch() {
        for (DWORD start = GetTickCount(); !stop && GetTickCount() - start < 30000; Sleep(20)) {
            HWND box = nullptr;
            EnumThreadWindows(owner, Take, reinterpret_cast<LPARAM>(&box));
            if (box == nullptr || !IsWindowVisible(box))
                continue;
            char line[512] = "";
            GetWindowTextA(box, line, sizeof line);
            caption = line;
            GetWindowTextA(GetDlgItem(box, 0xFFFF), line, sizeof line);
            text = line;
            for (HWND child = GetWindow(box, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT))
                if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                    errorIcon = errorIcon ||
                                reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) ==
                                    LoadIconA(nullptr, IDI_HAND);
            seen = true;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return;
        }
    }

    DWORD owner;
    std::atomic<bool> stop{false}, seen{false};
    std::thread watcher;
};

} // namespace

TEST_CASE("ReadRegistryString reads only what fits in the buffer") {
    bool intact = false;
    SUBCASE("a missing value gives the default") {
        DeleteMapix();
        CHECK(ReadMapixGuarded(&intact) == "0");
    }
    SUBCASE("a missing key gives the default") {
        char buffer[100];
        CHECK(std::string(ReadRegistryString("SOFTWARE\\No Such Key", "MAPIX", "dflt",
                                             HKEY_LOCAL_MACHINE, buffer, sizeof buffer)) == "dflt");
        intact = true;
    }
    SUBCASE("a string is read as it is") {
        SetMapixText("1 ");
        CHECK(ReadMapixGuarded(&intact) == "1 ");
    }
    SUBCASE("a value stored without its terminating zero is terminated") {
        SetMapix(REG_SZ, "1", 1);
        CHECK(ReadMapixGuarded(&intact) == "1");
        SetMapix(REG_BINARY, std::string(99, 'b').data(), 99);
        CHECK(ReadMapixGuarded(&intact) == std::string(99, 'b'));
    }
    SUBCASE("99 characters and the zero exactly fill the buffer") {
        SetMapixText(std::string(99, 'a').c_str());
        CHECK(ReadMapixGuarded(&intact) == std::string(99, 'a'));
    }
    SUBCASE("100 bytes without a zero do not fit") {
        SetMapix(REG_BINARY, std::string(100, 'c').data(), 100);
        CHECK(ReadMapixGuarded(&intact) == "0");
    }
    SUBCASE("a value longer than the buffer gives the default") {
        SetMapixText(std::string(150, 'd').c_str());
        CHECK(ReadMapixGuarded(&intact) == "0");
    }
    SUBCASE("the type is ignored: a number is read as its bytes") {
        DWORD one = 1;
        SetMapix(REG_DWORD, &one, sizeof one);
        CHECK(ReadMapixGuarded(&intact) == "\x01");
    }
    CHECK(intact);
}

TEST_CASE("only the exact text \"1\" lets MAPI be loaded") {
    FreshScenario(EmptyProfile);
    DWORD one = 1;
    SUBCASE("absent") {
        DeleteMapix();
    }
    SUBCASE("leading zero") {
        SetMapixText("01");
    }
    SUBCASE("trailing blank") {
        SetMapixText("1 ");
    }
    SUBCASE("a number") {
        SetMapix(REG_DWORD, &one, sizeof one);
    }
    SUBCASE("too long") {
        SetMapixText(("1" + std::string(120, ' ')).c_str());
    }
    CHECK(GetMapiSession() == nullptr);
    CHECK_FALSE(MapiSessionExists());
    CHECK(Mapi32Log().empty());

    // The latch: even with MAPI now installed, nothing is read or loaded again.
    SetMapixText("1");
    CHECK(GetMapiSession() == nullptr);
    CHECK(Mapi32Log().empty());
    CHECK_FALSE(Mapi32Loaded());
}

TEST_CASE("a session is created, logged on once, reused and torn down in order") {
    FreshScenario(EmptyProfile);
    MapiSession* session = GetMapiSession();
    REQUIRE(session != nullptr);
    CHECK(MapiSessionExists());
    CHECK(GetMapiSession() == session);
    CHECK(Mapi32Loaded());
    CHECK(Events("MAPIInitialize") ==
          std::vector<std::string>{"MAPIInitialize version=0 flags=0x1 -> 0x00000000"});
    CHECK(Events("MAPILogonEx") ==
          std::vector<std::string>{
              "MAPILogonEx ui=0 profile=(null) password=(null) flags=0x8020 -> 0x00000000"});

    SUBCASE("a second logon is refused without a MAPI call") {
        size_t before = Mapi32Log().size();
        int raised = 0;
        try {
            session->Logon(0, MAPI_NO_MAIL, nullptr, nullptr);
        } catch (ERROR_CODE error) {
            raised = error;
        }
        CHECK(raised == ERR_NOT_INITIALISED);
        CHECK(Mapi32Log().size() == before);
    }

    size_t before = Mapi32Log().size();
    ReleaseMapiSession();
    CHECK_FALSE(MapiSessionExists());
    CHECK_FALSE(Mapi32Loaded());
    std::vector<std::string> log = Mapi32Log();
    std::vector<std::string> teardown(log.begin() + std::min(before, log.size()), log.end());
    CHECK(teardown == std::vector<std::string>{
                          "Logoff ui=0 flags=0x0 reserved=0 -> 0x00000000",
                          "Release session refs=0",
                          "MAPIUninitialize live=0 buffers=0",
                          "detach live=0 buffers=0",
                      });

    size_t after = Mapi32Log().size();
    ReleaseMapiSession();
    CHECK(Mapi32Log().size() == after);
}

TEST_CASE("releasing without a session does nothing and leaves the latch clear") {
    FreshScenario(EmptyProfile);
    ReleaseMapiSession();
    CHECK(Mapi32Log().empty());
    CHECK(GetMapiSession() != nullptr);
    ReleaseMapiSession();
}

TEST_CASE("a failed logon uninitialises, unloads and latches") {
    FreshScenario("fail mapi32 MAPILogonEx 1 0x80040111\n");
    CHECK(GetMapiSession() == nullptr);
    CHECK_FALSE(MapiSessionExists());
    CHECK_FALSE(Mapi32Loaded());
    CHECK(Events("MAPILogonEx") ==
          std::vector<std::string>{
              "MAPILogonEx ui=0 profile=(null) password=(null) flags=0x8020 -> 0x80040111"});
    CHECK(CountEvents("MAPIUninitialize") == 1);
    CHECK(EventIndex("MAPIUninitialize") < EventIndex("detach"));
    CHECK(CountEvents("attach") == 1);
    CHECK(CountEvents("detach") == 1);

    // Only the first logon would fail now; the latch keeps MAPI from being tried again.
    size_t before = Mapi32Log().size();
    CHECK(GetMapiSession() == nullptr);
    CHECK(Mapi32Log().size() == before);
    CHECK_FALSE(Mapi32Loaded());
}

TEST_CASE("a failed MAPIInitialize is not undone and latches") {
    FreshScenario("fail mapi32 MAPIInitialize 1\n");
    CHECK(GetMapiSession() == nullptr);
    CHECK(Events("MAPIInitialize") ==
          std::vector<std::string>{"MAPIInitialize version=0 flags=0x1 -> 0x80004005"});
    CHECK(CountEvents("MAPILogonEx") == 0);
    CHECK(CountEvents("MAPIUninitialize") == 0);
    CHECK(CountEvents("detach") == 1);
    size_t before = Mapi32Log().size();
    CHECK(GetMapiSession() == nullptr);
    CHECK(Mapi32Log().size() == before);
}

TEST_CASE("a MAPI32.DLL without MAPILogonEx is loaded and freed once, never initialised") {
    FreshScenario(EmptyProfile);
    UseStandIn(false);
    CHECK(GetMapiSession() == nullptr);
    CHECK_FALSE(Mapi32Loaded());
    CHECK(Mapi32Log() == std::vector<std::string>{"attach", "detach live=0 buffers=0"});
    UseStandIn(true);
    CHECK(GetMapiSession() == nullptr);
    CHECK(Mapi32Log().size() == 2);
}

TEST_CASE("a logon that reports success without a session counts as failed") {
    FreshScenario("fail mapi32 MAPILogonEx 1 0\n");
    CHECK(GetMapiSession() == nullptr);
    CHECK_FALSE(MapiSessionExists());
    CHECK(CountEvents("Logoff") == 0);
    CHECK(Events("MAPIUninitialize") ==
          std::vector<std::string>{"MAPIUninitialize live=0 buffers=0"});
    CHECK_FALSE(Mapi32Loaded());
}

TEST_CASE("with Outlook of the other bitness MAPI32.DLL shows the stub's box and fails") {
    FreshScenario(EmptyProfile);
    // Recorded for the stand-in alone: nothing where the product reads Office's bitness.
    REQUIRE(RecordOutlookBitness(OtherBitness(), 0));
    {
        BoxWatch box;
        CHECK(GetMapiSession() == nullptr);
        CHECK(box.Seen());
        CHECK(box.caption == "Microsoft Outlook");
        CHECK(box.text == "Either there is no default mail client or the current mail client "
                          "cannot fulfill the messaging request. Please run Microsoft Outlook "
                          "and set it as the default mail client.");
        CHECK(box.errorIcon);
    }
    CHECK(Events("MAPIInitialize") ==
          std::vector<std::string>{"MAPIInitialize version=0 flags=0x1 -> 0x80004005"});
    CHECK(EventIndex("MessageBox shown caption=\"Microsoft Outlook\" style=0x10") <
          EventIndex("MessageBox answered 1"));
    CHECK(CountEvents("MAPILogonEx") == 0);
    CHECK_FALSE(Mapi32Loaded());

    // This process's own bitness, recorded in both of Office's places: a session as ever.
    FreshScenario(EmptyProfile);
    REQUIRE(RecordOutlookBitness(sandbox::ProcessBitness(),
                                 sandbox::OutlookKeyBitness | sandbox::ClickToRunPlatform));
    REGSAM view = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    CHECK(sandbox::MachineText("SOFTWARE\\Microsoft\\Office\\16.0\\Outlook", "Bitness", view) ==
          sandbox::ProcessBitness());
    CHECK(sandbox::MachineText("SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration", "Platform",
                               KEY_WOW64_64KEY) == sandbox::ProcessBitness());
    {
        BoxWatch box;
        CHECK(GetMapiSession() != nullptr);
        CHECK_FALSE(box.Seen());
    }
    CHECK(CountEvents("MessageBox") == 0);
    ReleaseMapiSession();
    // Removed again, from every place.
    RecordOutlookBitness(nullptr, 0);
    CHECK(sandbox::RecordedOutlookBitness().empty());
    CHECK(sandbox::MachineText("SOFTWARE\\Microsoft\\Office\\16.0\\Outlook", "Bitness", view)
              .empty());
}
