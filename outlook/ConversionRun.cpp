#include "outlook/ConversionRun.h"

#include "mapi/MapiSession.h"
#include "outlook/Automation.h"
#include "outlook/BusyServer.h"
#include "outlook/FolderWalk.h"
#include "outlook/TaskFolderVisitor.h"
#include "platform/Outlook.h"

#include <ole2.h>

ConversionFigures LastConversion;
bool FormResetThroughOutlook = false;

namespace {

// The HRESULT of the exception being handled.
HRESULT CaughtResult() {
    try {
        throw;
    } catch (const _com_error& error) {
        return error.Error();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace

bool ConversionRun(bool* manualSteps) {
    *manualSteps = true;
    LastConversion = ConversionFigures();
    OutlookCallTimes = CallTimes();
    DispatchRef application;
    try {
        LastConversion.comResult = CoInitialize(nullptr);
        if (LastConversion.comResult != S_OK)
            return false;
        BusyServerFilter busyServer; // for this run's COM only
        LastConversion.outlookResult = CreateOutlookApplication(application);
        if (LastConversion.outlookResult != S_OK) {
            application.Release();
            busyServer.Revoke();
            CoUninitialize();
            return false;
        }
        LastConversion.outlookReached = true;
        {
            Variant name;
            name.value.bstrVal = NarrowToBstr("MAPI");
            name.value.vt = VT_BSTR;
            DispatchRef mapiNamespace =
                CallObjectMethod(application, OutlookDispId::GetNamespace, &name.value, 1);
            *manualSteps = false;
            FolderWalk(GetObjectProperty(mapiNamespace, OutlookDispId::Folders), TaskFolderVisitor,
                       manualSteps);
        }
        // A session exists only when Extended MAPI could be used in some task folder. Without
        // one the forms are left for a person, unless Outlook's object model has reset each
        // one the visitor found (it set the flag where it could not).
        LastConversion.extendedMapiUsed = MapiSessionExists();
        if (!LastConversion.extendedMapiUsed && !FormResetThroughOutlook)
            *manualSteps = true;
        ReleaseMapiSession();
        application.Release();
        busyServer.Revoke();
        CoUninitialize();
        return true;
    } catch (...) {
        LastConversion.endingError = CaughtResult();
        LastConversion.extendedMapiUsed = MapiSessionExists();
        *manualSteps = true;
        application.Release();
        return false;
    }
}
