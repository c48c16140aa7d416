// Outlook's application object: created (started, when it is not running) or found running.
#include "outlook/Automation.h"

#include "platform/Outlook.h"

#include <ole2.h>

namespace {

// The application's IDispatch, owned by application; the caller keeps its IUnknown.
HRESULT DispatchOf(IUnknown* unknown, DispatchRef& application) {
    IDispatch* dispatch = nullptr;
    HRESULT result = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    application = DispatchRef(dispatch);
    return result == S_OK && dispatch == nullptr ? E_POINTER : result;
}

} // namespace

HRESULT CreateOutlookApplication(DispatchRef& application) {
    application.Release();
    IUnknown* unknown = nullptr;
    HRESULT result = CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext,
                                      IID_IUnknown, reinterpret_cast<void**>(&unknown));
    // Outlook 98 registers only its own class.
    if (result == REGDB_E_CLASSNOTREG)
        result = CoCreateInstance(CLSID_OutlookApplicationOld, nullptr, OutlookClassContext,
                                  IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(result))
        return result;
    if (unknown == nullptr)
        return E_POINTER;
    result = OleRun(unknown);
    if (SUCCEEDED(result))
        result = DispatchOf(unknown, application);
    unknown->Release();
    return result;
}

HRESULT AttachToRunningOutlook(DispatchRef& application) {
    application.Release();
    IUnknown* unknown = nullptr;
    HRESULT result = GetActiveObject(CLSID_OutlookApplication, nullptr, &unknown);
    if (FAILED(result))
        result = GetActiveObject(CLSID_OutlookApplicationOld, nullptr, &unknown);
    if (FAILED(result))
        return result;
    if (unknown == nullptr)
        return E_POINTER;
    result = DispatchOf(unknown, application);
    unknown->Release();
    return result;
}
