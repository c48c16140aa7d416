// Outlook's application object: created (started, when it is not running) or found running.
#include "outlook/Automation.h"

#include "platform/Outlook.h"

#include <ole2.h>

HRESULT CreateOutlookApplication(DispatchRef& application) {
    application.Release();
    IUnknown* unknown = nullptr;
    HRESULT result = CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext,
                                      IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(result))
        return result;
    if (unknown == nullptr)
        return E_POINTER;
    result = OleRun(unknown);
    if (SUCCEEDED(result)) {
        IDispatch* dispatch = nullptr;
        result = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        application = DispatchRef(dispatch);
        if (result == S_OK && dispatch == nullptr)
            result = E_POINTER;
    }
    unknown->Release();
    return result;
}

HRESULT AttachToRunningOutlook(DispatchRef& application) {
    application.Release();
    IUnknown* unknown = nullptr;
    HRESULT result = GetActiveObject(CLSID_OutlookApplication, nullptr, &unknown);
    if (FAILED(result))
        return result;
    if (unknown == nullptr)
        return E_POINTER;
    IDispatch* dispatch = nullptr;
    result = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    application = DispatchRef(dispatch);
    if (result == S_OK && dispatch == nullptr)
        result = E_POINTER;
    unknown->Release();
    return result;
}
