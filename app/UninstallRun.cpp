#include "app/UninstallRun.h"

#include "app/ComApartment.h"
#include "app/CommandLine.h"
#include "app/ConversionLog.h"
#include "app/Entry.h"
#include "app/ProgressWindow.h"
#include "app/RemovalLog.h"
#include "app/RestorePoint.h"
#include "app/resources/resource.h"
#include "outlook/ConversionRun.h"
#include "removal/Removal.h"
#include "removal/TraceReport.h"

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

// The run's outcome flags, and whether a person watches it: the progress window, its pauses,
// the document and the boxes are theirs. Unattended, the log and the exit code take their place.
struct Sequence {
    bool watched;
    bool failure = false;
    bool manualSteps = true;
};

const char* const stageNames[] = {"Outlook conversion", "program files", "registry entries",
                                  "shortcuts"};

void StageStarts(int stage) {
    LogLine("Stage %d of 4, %s: started", stage, stageNames[stage - 1]);
}

void StageNotInThisRun(int stage, const char* part) {
    LogLine("Stage %d of 4, %s: not in this run (%s)", stage, stageNames[stage - 1], part);
}

// A person sees each stage's own result. Unattended, a stage is judged by what it left of the
// product: a trace that was already gone counts as removed, so a run repeated on a clean
// machine reports success.
bool Judged(const Sequence& run, bool stageResult, long tracesLeftBefore) {
    return run.watched ? stageResult : TracesLeft == tracesLeftBefore;
}

void StageEnds(Sequence& run, int stage, bool succeeded, int resultId) {
    LogLine("Stage %d of 4, %s: %s", stage, stageNames[stage - 1], succeeded ? "done" : "failed");
    if (!succeeded)
        run.failure = true;
    if (!run.watched)
        return;
    if (!succeeded)
        MarkLabelFailed(resultId);
    // The conversion's result label is shown whatever it says; the others are shown by
    // MarkLabelFailed when they fail.
    if (succeeded || resultId == IDC_CONVERT_RESULT)
        ShowLabel(resultId);
}

// The next stage's label, then the pause that lets a person see the last result.
void NextStage(const Sequence& run, int stageLabelId) {
    if (!run.watched)
        return;
    EnableLabel(stageLabelId);
    Sleep(1000);
}

// Unattended, the conversion fails when any Plendrax item is left unconverted, or Outlook could
// not be started without a window; with no Outlook installed, or no mail profile of the user's,
// there is nothing to convert and nothing for a person to finish.
bool UnattendedConversionResult(const ConversionFigures& figures, bool converted,
                                bool& manualSteps) {
    if (OutlookNotInstalled(figures) || figures.profiles.state == MailProfileState::None) {
        manualSteps = false;
        return true;
    }
    return converted && figures.itemsFailed == 0;
}

// The handler that opens the document may use COM, so it is initialised around the call:
// the conversion has already uninitialised its own.
void OpenDocument(const char* path) {
    ComApartment apartment;
    ShellExecuteA(nullptr, nullptr, path, nullptr, ".", SW_SHOWDEFAULT);
}

void LoadMessage(UINT stringId, char (&text)[500]) {
    if (LoadStringA(InstanceHandle, stringId, text, sizeof text) == 0)
        text[0] = '\0';
}

// The stages in their order, the removal inside the restore point bracket, each doing the
// parts of it the run does.
int RunStages(const char* installDirectory, bool watched, RunParts parts,
              const MachinePartHandOff* handOff = nullptr, bool atRestartWhenInUse = false) {
    Sequence run{watched};
    if (watched)
        StartProgressWindow();

    StageStarts(1);
    if (parts.user) {
        // Unattended, nobody is there to be handed the default forms: where Extended MAPI
        // cannot serve, Outlook's object model resets them. Nor is anybody there to answer
        // Outlook: it is started only where it shows no window.
        ConversionRequest request;
        request.formResetThroughOutlook = !watched;
        request.nobodyToAnswerOutlook = !watched;
        ConversionFigures figures;
        bool converted = ConversionRun(&run.manualSteps, request, figures);
        LogConversion(request, figures);
        if (!watched)
            converted = UnattendedConversionResult(figures, converted, run.manualSteps);
        StageEnds(run, 1, converted, IDC_CONVERT_RESULT);
    } else {
        run.manualSteps = false;
        StageNotInThisRun(1, "the user's part");
    }
    NextStage(run, IDC_FILES_STAGE);

    // System Restore records machine-wide changes, and needs an administrator to ask: an
    // elevated copy doing the machine's part brackets it itself.
    bool machineHere = parts.machine && handOff == nullptr;
    if (machineHere)
        BeginRestorePoint();

    long left = TracesLeft, scheduled = TracesScheduled;
    MachinePartResult elevatedCopy;
    if (handOff != nullptr) {
        StageStarts(2);
        elevatedCopy = RunMachinePartElevated(installDirectory, *handOff, ProgressWindowHandle);
        StageEnds(run, 2, elevatedCopy.programFiles, IDC_FILES_RESULT);
    } else if (parts.machine) {
        StageStarts(2);
        StageEnds(run, 2,
                  Judged(run, RemoveProgramFiles(installDirectory, atRestartWhenInUse), left),
                  IDC_FILES_RESULT);
    } else {
        StageNotInThisRun(2, "the machine's part");
    }
    // What is scheduled for deletion at restart is not left: nothing will be after the restart.
    bool programFilesLeft = TracesLeft != left;
    long restartDeletions = TracesScheduled - scheduled;
    NextStage(run, IDC_REGISTRY_STAGE);

    left = TracesLeft;
    StageStarts(3);
    if (parts.machine && !watched && programFilesLeft) {
        // A deployment tool finds Plendrax installed by this entry: while files are left it
        // must go on finding it, so that a retry comes and finishes the removal.
        LogLine("Registry key HKEY_LOCAL_MACHINE\\%s: kept while program files are left, so "
                "that Plendrax is still found installed and a later run finishes the removal",
                InstalledProgramsEntry);
        ++TracesLeft;
    } else if (machineHere) {
        RemoveInstalledProgramsEntry();
    }
    if (parts.user)
        RemoveUserSettings();
    StageEnds(run, 3, Judged(run, true, left), IDC_REGISTRY_RESULT);
    NextStage(run, IDC_SHORTCUT_STAGE);

    left = TracesLeft;
    StageStarts(4);
    bool shortcutRemoved = true;
    if (parts.user)
        RemoveDesktopShortcut();
    if (machineHere)
        shortcutRemoved = RemoveStartMenuShortcut();
    else if (handOff != nullptr)
        shortcutRemoved = elevatedCopy.startMenuShortcut;
    StageEnds(run, 4, Judged(run, shortcutRemoved, left), IDC_SHORTCUT_RESULT);

    if (watched && run.manualSteps) {
        char document[MAX_PATH];
        if (UninstallDocumentPath(document)) {
            OpenDocument(document);
            Sleep(1000);
        }
    }

    FinalMessage message = ChooseFinalMessage(run.failure, run.manualSteps);
    char text[500];
    LoadMessage(message.stringId, text);
    LogLine("Outcome: message %u%s: %s", message.stringId,
            watched ? "" : " (not shown: unattended)", text);
    if (watched)
        MessageBoxA(nullptr, text, caption, message.iconFlag);

    if (restartDeletions > 0)
        LogLine(run.failure ? "%ld paths are scheduled for deletion at restart (named above); the "
                              "removal is not complete without what failed"
                            : "A restart completes the removal: %ld paths are scheduled for "
                              "deletion at restart (named above)",
                restartDeletions);

    if (machineHere)
        EndRestorePoint();
    return UnattendedExitCode(run.failure, run.manualSteps, restartDeletions > 0);
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

int UnattendedExitCode(bool failure, bool manualSteps, bool restartPending) {
    if (failure)
        return ERROR_INSTALL_FAILURE;
    // A restart still to come outweighs the forms: a deployment tool must know of it, and the
    // log tells a person of both.
    if (restartPending)
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    return manualSteps ? ExitManualStepsLeft : ERROR_SUCCESS;
}

void UninstallRun(const char* installDirectory, const MachinePartHandOff* handOff) {
    {
        char question[500];
        LoadMessage(IDS_CONFIRM_REMOVE, question);
        if (MessageBoxA(nullptr, question, caption, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            LogLine("Declined at the confirmation: nothing was touched");
            return;
        }
    }
    LogLine("Confirmed");
    RunStages(installDirectory, true, RunParts(), handOff);
}

int UnattendedUninstallRun(const char* installDirectory, RunParts parts, bool atRestartWhenInUse) {
    return RunStages(installDirectory, false, parts, nullptr, atRestartWhenInUse);
}
