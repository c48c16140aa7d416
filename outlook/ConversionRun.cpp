#include "outlook/ConversionRun.h"

#include "platform/Outlook.h"

#include <ole2.h>

namespace {

// Creates (or attaches to) Outlook's application object and asks it for IDispatch.
HRESULT CreateOutlookApplication(IDispatch** application) {
    *application = nullptr;
    IUnknown* unknown = nullptr;
    HRESULT result = CoCreateInstance(CLSID_OutlookApplication, nullptr, OutlookClassContext,
                                      IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (result != S_OK)
        return result;
    result = OleRun(unknown);
    if (SUCCEEDED(result))
        result = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(application));
    unknown->Release();
    return result;
}

} // namespace

bool ConversionRun(bool* manualSteps) {
    *manualSteps = true;
    try {
        if (CoInitialize(nullptr) != S_OK)
            return false;
        IDispatch* application = nullptr;
        if (CreateOutlookApplication(&application) != S_OK) {
            if (application != nullptr)
                application->Release();
            CoUninitialize();
            return false;
        }
        // The walk over the stores comes here.
        application->Release();
        CoUninitialize();
        return true;
    } catch (...) {
        *manualSteps = true;
        return false;
    }
}
