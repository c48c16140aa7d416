#include "outlook/ConversionRun.h"

#include "mapi/MapiSession.h"
#include "outlook/Automation.h"
#include "outlook/BusyServer.h"
#include "outlook/FolderWalk.h"
#include "outlook/TaskFolderVisitor.h"
#include "platform/Outlook.h"

#include <ole2.h>

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

// Outlook's application object as the request allows: with nobody to answer Outlook, the one
// running, else a new one only when the user's default profile opens without a window.
// S_FALSE when Outlook is not to be started.
HRESULT ReachOutlook(const ConversionRequest& request, ConversionFigures& figures,
                     DispatchRef& application) {
    if (request.nobodyToAnswerOutlook) {
        if (AttachToRunningOutlook(application) == S_OK) {
            figures.outlookWasRunning = true;
            return S_OK;
        }
        application.Release();
        figures.profiles = ReadMailProfiles();
        if (OutlookNotStarted(figures))
            return S_FALSE;
    }
    return CreateOutlookApplication(application);
}

} // namespace

bool ConversionRun(bool* manualSteps, const ConversionRequest& request,
                   ConversionFigures& figures) {
    *manualSteps = true;
    figures = ConversionFigures();
    OutlookCallTimes = CallTimes();
    ConversionContext context{manualSteps, request.formResetThroughOutlook, &figures};
    DispatchRef application;
    try {
        figures.comResult = CoInitialize(nullptr);
        if (figures.comResult != S_OK)
            return false;
        BusyServerFilter busyServer; // for this run's COM only
        figures.outlookResult = ReachOutlook(request, figures, application);
        if (figures.outlookResult != S_OK) {
            application.Release();
            busyServer.Revoke();
            CoUninitialize();
            return false;
        }
        figures.outlookReached = true;
        {
            Variant name;
            name.value.bstrVal = NarrowToBstr("MAPI");
            name.value.vt = VT_BSTR;
            DispatchRef mapiNamespace =
                CallObjectMethod(application, OutlookDispId::GetNamespace, &name.value, 1);
            *manualSteps = false;
            FolderWalk(GetObjectProperty(mapiNamespace, OutlookDispId::Folders), TaskFolderVisitor,
                       &context);
        }
        // A session exists only when Extended MAPI could be used in some task folder. Without
        // one the forms are left for a person, unless Outlook's object model has reset each
        // one the visitor found (it set the flag where it could not).
        figures.extendedMapiUsed = MapiSessionExists();
        if (!figures.extendedMapiUsed && !request.formResetThroughOutlook)
            *manualSteps = true;
        ReleaseMapiSession();
        application.Release();
        busyServer.Revoke();
        CoUninitialize();
        return true;
    } catch (...) {
        figures.endingError = CaughtResult();
        figures.extendedMapiUsed = MapiSessionExists();
        *manualSteps = true;
        application.Release();
        return false;
    }
}
