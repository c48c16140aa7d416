#include "app/UninstallRun.h"

#include "app/CommandLine.h"
#include "app/Entry.h"
#include "app/ProgressWindow.h"
#include "app/RestorePoint.h"
#include "app/resources/resource.h"
#include "outlook/ConversionRun.h"
#include "removal/Removal.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstring>

namespace {

const char caption[] = "Plendrax";
const char documentName[] = "UninstallPX.doc";

void StartProgressWindow() {
    DWORD threadId;
    HANDLE thread = CreateThread(nullptr, 50000, ProgressWindowThread, nullptr, 0, &threadId);
    if (thread == nullptr)
        return; // no window: the stages run all the same
    // The thread runs to the end of the process; its handle is not needed.
    CloseHandle(thread);
    while (ProgressWindowHandle.load() == nullptr && !ProgressWindowFailed.load())
        Sleep(200);
}

void ShowStageResult(bool succeeded, int resultId, bool& failure) {
    if (succeeded) {
        ShowLabel(resultId);
    } else {
        failure = true;
        MarkLabelFailed(resultId);
    }
}

// COM initialised on this thread for as long as it lives, and released exactly when this
// initialisation succeeded (S_FALSE included: it is counted too).
class ComApartment {
  public:
    ComApartment()
        : initialised(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (initialised)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool initialised;
};

// The handler that opens the document may use COM, so it is initialised around the call:
// the conversion has already uninitialised its own.
void OpenDocument(const char* path) {
    ComApartment apartment;
    ShellExecuteA(nullptr, nullptr, path, nullptr, ".", SW_SHOWDEFAULT);
}

void ShowMessage(UINT stringId, UINT style) {
    char text[500];
    if (LoadStringA(InstanceHandle, stringId, text, sizeof text) == 0)
        text[0] = '\0';
    MessageBoxA(nullptr, text, caption, style);
}

} // namespace

FinalMessage ChooseFinalMessage(bool failure, bool manualSteps) {
    if (failure)
        return {manualSteps ? UINT(IDS_NOT_ALL_REMOVED_MANUAL) : UINT(IDS_NOT_ALL_REMOVED),
                MB_ICONEXCLAMATION};
    return {manualSteps ? UINT(IDS_UNINSTALLED_MANUAL) : UINT(IDS_UNINSTALLED), MB_ICONINFORMATION};
}

bool UninstallDocumentPath(char (&path)[MAX_PATH]) {
    ModuleDirectory(path, sizeof path);
    size_t length = std::strlen(path);
    if (length == 0 || length + sizeof documentName > sizeof path)
        return false;
    std::memcpy(path + length, documentName, sizeof documentName);
    return true;
}

void UninstallRun(const char* installDirectory) {
    {
        char question[500];
        if (LoadStringA(InstanceHandle, IDS_CONFIRM_REMOVE, question, sizeof question) == 0)
            question[0] = '\0';
        if (MessageBoxA(nullptr, question, caption, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
    }

    bool failure = false;
    bool manualSteps = true;
    StartProgressWindow();

    if (!ConversionRun(&manualSteps)) {
        failure = true;
        MarkLabelFailed(IDC_CONVERT_RESULT);
    }
    ShowLabel(IDC_CONVERT_RESULT);
    EnableLabel(IDC_FILES_STAGE);
    Sleep(1000);

    BeginRestorePoint();

    ShowStageResult(RemoveProgramFiles(installDirectory), IDC_FILES_RESULT, failure);
    EnableLabel(IDC_REGISTRY_STAGE);
    Sleep(1000);

    ShowStageResult(RemoveRegistryEntries(), IDC_REGISTRY_RESULT, failure);
    EnableLabel(IDC_SHORTCUT_STAGE);
    Sleep(1000);

    ShowStageResult(RemoveShortcuts(), IDC_SHORTCUT_RESULT, failure);

    if (manualSteps) {
        char document[MAX_PATH];
        if (UninstallDocumentPath(document)) {
            OpenDocument(document);
            Sleep(1000);
        }
    }

    FinalMessage message = ChooseFinalMessage(failure, manualSteps);
    ShowMessage(message.stringId, message.iconFlag);

    EndRestorePoint();
}
