#include "outlook/ConversionRun.h"

#include "mapi/MapiSession.h"
#include "outlook/Automation.h"
#include "outlook/FolderWalk.h"
#include "outlook/TaskFolderVisitor.h"
#include "platform/Outlook.h"

#include <ole2.h>

bool ConversionRun(bool* manualSteps) {
    *manualSteps = true;
    DispatchRef application;
    try {
        if (CoInitialize(nullptr) != S_OK)
            return false;
        if (CreateOutlookApplication(application) != S_OK) {
            application.Release();
            CoUninitialize();
            return false;
        }
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
        // A session exists only when Extended MAPI could be used in some task folder.
        if (!MapiSessionExists())
            *manualSteps = true;
        ReleaseMapiSession();
        application.Release();
        CoUninitialize();
        return true;
    } catch (...) {
        *manualSteps = true;
        application.Release();
        return false;
    }
}
