// Benchmark of the conversion (not a test): ConversionRun over a generated stand-in profile,
// against a bare loop that makes the same Invoke calls on the same stand-in directly. The
// stand-in is the in-process server, or with "local" the local server, both measured through
// the same proxy. Run through tests/wine-run with SANDBOX_BENCH=1 (see scripts/bench):
//   conversion_bench.exe ITEMS FOLDERS [REPEATS [local]]
// Prints one line: items, folders, calls per item (and the design's count), items per second
// of both, their ratio, the bare loop's time per call, and the working set: after loading the
// profile, and the peak.
#include "outlook/ConversionRun.h"
#include "platform/Outlook.h"
#include "sandbox/profile/Profile.h"

#include <windows.h>

#include <ole2.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const char ProfilePath[] = "C:\\sandbox\\bench-profile.txt";
const char ClassKey[] = "CLSID\\{0006F03A-0000-0000-C000-000000000046}\\";

// One store holding the task folders side by side, the items spread evenly over them.
bool WriteProfile(long items, long folders) {
    std::string text = "store \"Bench\" id=0A0B\r\n";
    for (long f = 0; f < folders; ++f) {
        text += "  folder \"F" + std::to_string(f) + "\" type=3\r\n";
        long count = items / folders + (f < items % folders ? 1 : 0);
        for (long i = 0; i < count; ++i)
            text += "    item \"IPM.Task.Plendrax\"\r\n";
    }
    CreateDirectoryA("C:\\sandbox", nullptr);
    HANDLE file = CreateFileA(ProfilePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    return written == text.size();
}

// Every item back to the Plendrax class between runs (not timed).
void ResetItems() {
    for (int store : sandbox::Stores())
        for (int folder : sandbox::StoreFolders(store))
            for (int item : sandbox::FolderItems(folder))
                sandbox::SetItemClass(item, "IPM.Task.Plendrax");
}

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

// ---- The bare loop: the conversion's calls, with nothing around them. ----

IDispatch* Call(IDispatch* object, DISPID member, WORD flags, VARIANT* argument = nullptr,
                VARIANT* out = nullptr) {
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {argument, flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                             argument ? 1u : 0u, flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    UINT error = 0;
    if (FAILED(
            object->Invoke(member, IID_NULL, 0, flags, &parameters, &result, &exception, &error))) {
        fprintf(stderr, "bare loop: call failed\n");
        exit(2);
    }
    if (out != nullptr) {
        *out = result;
        return nullptr;
    }
    return result.vt == VT_DISPATCH ? result.pdispVal : nullptr;
}

long GetLong(IDispatch* object, DISPID member) {
    VARIANT value;
    Call(object, member, DISPATCH_PROPERTYGET, nullptr, &value);
    return value.lVal;
}

IDispatch* Fetch(IDispatch* collection, long index) {
    VARIANT position;
    position.vt = VT_I4;
    position.lVal = index;
    return Call(collection, OutlookDispId::Item, DISPATCH_METHOD, &position);
}

void BareWalk(IDispatch* collection, BSTR plendrax, BSTR task) {
    long count = GetLong(collection, OutlookDispId::Count);
    for (long n = 1; n <= count; ++n) {
        IDispatch* folder = Fetch(collection, n);
        GetLong(folder, OutlookDispId::DefaultItemType);
        if (GetLong(folder, OutlookDispId::DefaultItemType) == 3) {
            IDispatch* items = Call(folder, OutlookDispId::Items, DISPATCH_PROPERTYGET);
            long itemCount = GetLong(items, OutlookDispId::Count);
            for (long i = 1; i <= itemCount; ++i) {
                IDispatch* returned = Fetch(items, i);
                IDispatch* item = nullptr;
                returned->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&item));
                returned->Release();
                VARIANT messageClass;
                Call(item, OutlookDispId::MessageClass, DISPATCH_PROPERTYGET, nullptr,
                     &messageClass);
                if (wcscmp(messageClass.bstrVal, plendrax) == 0) {
                    VARIANT value;
                    value.vt = VT_BSTR;
                    value.bstrVal = task;
                    Call(item, OutlookDispId::MessageClass, DISPATCH_PROPERTYPUT, &value);
                    Call(item, OutlookDispId::Save, DISPATCH_METHOD);
                }
                VariantClear(&messageClass);
                item->Release();
            }
            items->Release();
        }
        IDispatch* subfolders = Call(folder, OutlookDispId::Folders, DISPATCH_PROPERTYGET);
        BareWalk(subfolders, plendrax, task);
        subfolders->Release();
        folder->Release();
    }
}

void BareLoop() {
    CoInitialize(nullptr);
    IUnknown* unknown = nullptr;
    CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext, IID_IUnknown,
                     reinterpret_cast<void**>(&unknown));
    OleRun(unknown);
    IDispatch* application = nullptr;
    unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&application));
    unknown->Release();
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(L"MAPI");
    IDispatch* mapi = Call(application, OutlookDispId::GetNamespace, DISPATCH_METHOD, &name);
    SysFreeString(name.bstrVal);
    IDispatch* stores = Call(mapi, OutlookDispId::Folders, DISPATCH_PROPERTYGET);
    BSTR plendrax = SysAllocString(L"IPM.Task.Plendrax");
    BSTR task = SysAllocString(L"IPM.Task");
    BareWalk(stores, plendrax, task);
    SysFreeString(plendrax);
    SysFreeString(task);
    stores->Release();
    mapi->Release();
    application->Release();
    CoUninitialize();
}

// The fastest of the runs: the machine's noise only ever adds time, so the fastest run is the
// closest to the code's own cost.
double Fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

SIZE_T WorkingSet() {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    return memory.WorkingSetSize;
}

// The process's peak working set cannot be reset, and loading the profile (its text and the
// parse's copies) sets it; so the working set is also sampled every millisecond while one run
// goes on, for the run's own peak.
class Sampler {
  public:
    Sampler() {
        stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        // The start is taken by the running thread, its own stack already counted.
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
    }
    // The highest working set seen over the one at the start.
    SIZE_T Growth() {
        SetEvent(stop);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(stop);
        SIZE_T last = WorkingSet();
        return (last > highest ? last : highest) - start;
    }

  private:
    static DWORD WINAPI Run(void* self) {
        Sampler* sampler = static_cast<Sampler*>(self);
        sampler->start = sampler->highest = WorkingSet();
        SetEvent(sampler->ready);
        do {
            SIZE_T now = WorkingSet();
            if (now > sampler->highest)
                sampler->highest = now;
        } while (WaitForSingleObject(sampler->stop, 1) == WAIT_TIMEOUT);
        return 0;
    }
    SIZE_T start = 0;
    volatile SIZE_T highest = 0;
    HANDLE stop;
    HANDLE ready;
    HANDLE thread;
};

double MegaBytes(SIZE_T bytes) {
    return double(bytes) / (1024.0 * 1024.0);
}

bool SetServer(const char* kind, const char* path) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(ClassKey) + kind).c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                   DWORD(lstrlenA(path) + 1));
    if (std::string(kind) == "InprocServer32")
        RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"),
                       10);
    RegCloseKey(key);
    return true;
}

// Holds one application object of the local server from a thread of its own, so that the
// server stays up between runs and each run finds it as the first did. The main thread's COM
// stays the conversion's own.
class ServerKeeper {
  public:
    ServerKeeper() {
        done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        WaitForSingleObject(ready, 60000);
    }
    ~ServerKeeper() {
        SetEvent(done);
        WaitForSingleObject(thread, 60000);
        CloseHandle(thread);
        CloseHandle(done);
        CloseHandle(ready);
    }
    bool holding = false;

  private:
    static DWORD WINAPI Run(void* self) {
        ServerKeeper* keeper = static_cast<ServerKeeper*>(self);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        IUnknown* application = nullptr;
        keeper->holding =
            SUCCEEDED(CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                                       IID_IUnknown, reinterpret_cast<void**>(&application)));
        SetEvent(keeper->ready);
        WaitForSingleObject(keeper->done, INFINITE);
        if (application != nullptr)
            application->Release();
        CoUninitialize();
        return 0;
    }
    HANDLE done, ready, thread;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: conversion_bench ITEMS FOLDERS [REPEATS]\n");
        return 2;
    }
    long items = atol(argv[1]), folders = atol(argv[2]);
    int repeats = argc > 3 ? atoi(argv[3]) : 3;
    bool local = argc > 4 && std::string(argv[4]) == "local";
    if (items < 1 || folders < 1 || repeats < 1 || !WriteProfile(items, folders))
        return 2;
    SetEnvironmentVariableA("SANDBOX_PROFILE", ProfilePath);
    // Extended MAPI is left out: no default-form probe, only the item conversion is measured.
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Messaging Subsystem", 0,
                      KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "MAPIX");
        RegCloseKey(key);
    }
    // The stand-ins beside this program, where the profile DLL it shares with them lies. With
    // both registered COM would take the in-process one.
    char server[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, server, MAX_PATH);
    while (length > 0 && server[length - 1] != '\\')
        --length;
    lstrcpynA(server + length, local ? "OutlookStandin.exe" : "OutlookStandin.dll",
              int(MAX_PATH - length));
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(ClassKey) + "InprocServer32").c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(ClassKey) + "LocalServer32").c_str());
    if (!SetServer(local ? "LocalServer32" : "InprocServer32", server))
        return 2;
    // Kept loaded between runs, so that each run finds it as the first did.
    if (!local && LoadLibraryA(server) == nullptr)
        return 2;

    sandbox::Stores(); // loads the profile, which the local server then joins
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    SIZE_T loaded = memory.WorkingSetSize;

    ServerKeeper* keeper = nullptr;
    if (local) {
        keeper = new ServerKeeper;
        if (!keeper->holding)
            return 2;
    }
    std::vector<double> conversion, bare;
    int callsPerRun = 0;
    SIZE_T conversionGrowth = 0, bareGrowth = 0;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        // The last run's growth counts: the first also pays for COM's start-up.
        Sampler conversionSampler;
        int before = sandbox::CallCount("outlook");
        double start = Seconds();
        bool manualSteps = false;
        ConversionFigures figures;
        if (!ConversionRun(&manualSteps, ConversionRequest(), figures)) {
            fprintf(stderr, "conversion failed\n");
            return 1;
        }
        conversion.push_back(Seconds() - start);
        conversionGrowth = conversionSampler.Growth();
        callsPerRun = sandbox::CallCount("outlook") - before;
        ResetItems();
        Sampler bareSampler;
        int bareBefore = sandbox::CallCount("outlook");
        start = Seconds();
        BareLoop();
        bare.push_back(Seconds() - start);
        bareGrowth = bareSampler.Growth();
        if (sandbox::CallCount("outlook") - bareBefore != callsPerRun) {
            fprintf(stderr, "the bare loop made %d calls, the conversion %d\n",
                    sandbox::CallCount("outlook") - bareBefore, callsPerRun);
            return 1;
        }
        ResetItems();
    }
    delete keeper;
    // Per run: creation, IDispatch, GetNamespace, the namespace's Folders and its Count (5);
    // the store's root folder: Item, DefaultItemType twice, Folders, Count (5); each task folder:
    // Item, DefaultItemType twice, Items, Count, Folders, Count (7); each Plendrax item: Item,
    // IDispatch, MessageClass read and write, Save (5). Through a local server the proxy
    // answers the queries for IDispatch itself: one call fewer per run and per item.
    long design = 5 + 5 + 7 * folders + 5 * items - (local ? 1 + items : 0);
    double conversionTime = Fastest(conversion), bareTime = Fastest(bare);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("server=%s items=%ld folders=%ld calls=%d design=%ld calls_per_item=%.3f "
           "conversion_items_per_s=%.0f bare_items_per_s=%.0f ratio=%.3f bare_us_per_call=%.1f "
           "loaded_mb=%.1f peak_mb=%.1f conversion_growth_mb=%.2f bare_growth_mb=%.2f\n",
           local ? "local" : "inprocess", items, folders, callsPerRun, design,
           double(callsPerRun) / double(items), double(items) / conversionTime,
           double(items) / bareTime, conversionTime / bareTime, bareTime * 1e6 / callsPerRun,
           MegaBytes(loaded), MegaBytes(memory.PeakWorkingSetSize), MegaBytes(conversionGrowth),
           MegaBytes(bareGrowth));
    return callsPerRun == design ? 0 : 1;
}
