// OutlookStandin.dll: the stand-in's objects served in-process (ObjectModel.h).
#include "sandbox/outlook/Objects.h"

#include "sandbox/profile/Profile.h"

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (clsid != standin::CLSID_Application && clsid != standin::CLSID_ApplicationOld)
        return CLASS_E_CLASSNOTAVAILABLE;
    return standin::Factory()->QueryInterface(iid, out);
}

extern "C" long SandboxLiveObjects() {
    return standin::LiveObjects();
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    long live = standin::LiveObjects(), locks = standin::ServerLocks();
    sandbox::Record(standin::Log, "DllCanUnloadNow live=%ld locks=%ld", live, locks);
    return live == 0 && locks == 0 ? S_OK : S_FALSE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_DETACH)
        sandbox::Record(standin::Log, "detach live=%ld", standin::LiveObjects());
    return TRUE;
}
