#include <doctest.h>

#include "outlook/ConversionRun.h"

#include <objbase.h>

namespace {

// Each case runs on a thread of its own, so that it starts with COM not initialised.
struct RunOnThread {
    bool comFirst = false; // initialise COM on the thread before the run
    bool result = true;
    bool manualSteps = false;
    HRESULT initialisedAfter = E_FAIL; // CoInitialize's answer after the run
};

DWORD WINAPI RunConversion(void* parameter) {
    RunOnThread* run = static_cast<RunOnThread*>(parameter);
    if (run->comFirst && CoInitialize(nullptr) != S_OK)
        return 1;
    ConversionFigures figures;
    run->result = ConversionRun(&run->manualSteps, ConversionRequest(), figures);
    if (run->comFirst)
        CoUninitialize();
    // S_OK now means that COM was left uninitialised on the thread; S_FALSE that the run
    // left one initialisation of its own behind.
    run->initialisedAfter = CoInitialize(nullptr);
    CoUninitialize();
    if (run->initialisedAfter == S_FALSE)
        CoUninitialize();
    return 0;
}

void Run(RunOnThread& run) {
    HANDLE thread = CreateThread(nullptr, 0, RunConversion, &run, 0, nullptr);
    REQUIRE(thread != nullptr);
    DWORD waited = WaitForSingleObject(thread, 60000);
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    REQUIRE(waited == WAIT_OBJECT_0);
    REQUIRE(exitCode == 0);
}

} // namespace

TEST_CASE("COM already initialised: false, flag true, CoUninitialize not called") {
    RunOnThread run;
    run.comFirst = true;
    Run(run);
    CHECK_FALSE(run.result);
    CHECK(run.manualSteps);
    // The run's own CoInitialize (S_FALSE) was not undone.
    CHECK(run.initialisedAfter == S_FALSE);
}

TEST_CASE("Outlook cannot be created: false, flag true, COM uninitialised again") {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{0006F033-0000-0000-C000-000000000046}");
    RunOnThread run;
    Run(run);
    CHECK_FALSE(run.result);
    CHECK(run.manualSteps);
    CHECK(run.initialisedAfter == S_OK);
}
