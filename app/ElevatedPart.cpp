#include "app/ElevatedPart.h"

#include "app/ComApartment.h"
#include "app/CommandLine.h"
#include "app/RemovalLog.h"
#include "app/SingleRun.h"
#include "removal/Removal.h"

#include <shellapi.h>

#include <cstring>
#include <string>

namespace {

const char machineSuffix[] = "-machine";

bool Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool InstalledFileExists(const char* directory, const char* name) {
    char path[MAX_PATH];
    return InstalledFilePath(directory, name, path) && Exists(path);
}

} // namespace

bool ChildLogPath(const char* parentLog, char (&childLog)[MAX_PATH]) {
    size_t length = std::strlen(parentLog);
    if (length == 0 || length + sizeof machineSuffix > sizeof childLog)
        return false;
    // The extension is what follows the last dot of the file's name, if it has one.
    const char* separator = LastSeparator(parentLog);
    const char* dot = std::strrchr(separator ? separator : parentLog, '.');
    size_t stem = dot ? size_t(dot - parentLog) : length;
    std::memcpy(childLog, parentLog, stem);
    std::memcpy(childLog + stem, machineSuffix, sizeof machineSuffix - 1);
    std::memcpy(childLog + stem + sizeof machineSuffix - 1, parentLog + stem, length - stem + 1);
    return true;
}

MachineTraces LookAtMachineTraces(const char* installDirectory) {
    MachineTraces traces;
    size_t length = std::strlen(installDirectory);
    if (length > 0 && length <= MaxInstallDirectoryLength) {
        traces.plendraxExe = InstalledFileExists(installDirectory, "Plendrax.exe");
        traces.setupExe = InstalledFileExists(installDirectory, "Setup.exe");
        char directory[MAX_PATH];
        std::memcpy(directory, installDirectory, length + 1);
        if (directory[length - 1] == '\\' || directory[length - 1] == '/')
            directory[length - 1] = '\0';
        traces.installDirectory = Exists(directory);
    }
    char shortcut[MAX_PATH];
    traces.startMenuShortcut = StartMenuShortcutPath(shortcut) && Exists(shortcut);
    return traces;
}

MachinePartResult JudgeMachinePart(const MachineTraces& before, const MachineTraces& after,
                                   bool copyRan) {
    MachinePartResult result;
    if (!copyRan)
        return result;
    result.programFiles = before.plendraxExe && before.setupExe && !after.plendraxExe &&
                          !after.setupExe && !after.installDirectory;
    result.startMenuShortcut = before.startMenuShortcut && !after.startMenuShortcut;
    return result;
}

bool RunElevated(const char* program, const char* parameters, HWND owner, DWORD& exitCodeOrError) {
    // The shell may use COM to start it, and this thread waits while it pumps messages.
    ComApartment apartment;
    SHELLEXECUTEINFOA execute;
    ZeroMemory(&execute, sizeof execute);
    execute.cbSize = sizeof execute;
    // No error box of the shell's own: the run reports a copy that could not start by its labels.
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.hwnd = owner;
    execute.lpVerb = "runas";
    execute.lpFile = program;
    execute.lpParameters = parameters;
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExA(&execute)) {
        exitCodeOrError = GetLastError();
        return false;
    }
    if (execute.hProcess == nullptr) {
        // Handed to a process already running: nothing here to wait for or to read.
        exitCodeOrError = ERROR_INVALID_HANDLE;
        return false;
    }
    for (;;) {
        DWORD waited =
            MsgWaitForMultipleObjects(1, &execute.hProcess, FALSE, INFINITE, QS_ALLINPUT);
        if (waited != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (!GetExitCodeProcess(execute.hProcess, &exitCodeOrError))
        exitCodeOrError = ERROR_INSTALL_FAILURE;
    CloseHandle(execute.hProcess);
    return true;
}

MachinePartResult RunMachinePartElevated(const char* installDirectory,
                                         const MachinePartHandOff& handOff, HWND owner) {
    // The copy belongs to this run, which tells a person of a file in use: it schedules nothing.
    std::string parameters = "/quiet /scope=machine /noschedule ";
    bool startable = handOff.program[0] != '\0';
    try {
        if (handOff.childLog[0] != '\0')
            parameters += std::string("/log=\"") + handOff.childLog + "\" ";
        parameters += '%';
        parameters += installDirectory;
    } catch (...) {
        startable = false; // no room for the command line: nothing is started
    }
    MachineTraces before = LookAtMachineTraces(installDirectory);
    // The copy takes the machine-wide lock; this run keeps the user's.
    if (handOff.machineLock != nullptr)
        handOff.machineLock->Release();
    LogText("The machine's part runs in an elevated copy of the uninstaller: ", parameters.c_str(),
            parameters.size());
    DWORD exitCodeOrError = ERROR_FILENAME_EXCED_RANGE;
    bool ran =
        startable && RunElevated(handOff.program, parameters.c_str(), owner, exitCodeOrError);
    if (!ran) {
        LogFailure("Starting the elevated copy", exitCodeOrError);
        LogLine("Nothing of the machine's part was touched%s",
                exitCodeOrError == ERROR_CANCELLED ? ": the consent was refused" : "");
    } else if (exitCodeOrError == ERROR_INSTALL_ALREADY_RUNNING) {
        LogLine("The elevated copy found another run at work (exit code 1618): the machine's part "
                "is not done");
        ran = false;
    } else {
        LogLine("The elevated copy ended with exit code %lu", exitCodeOrError);
    }
    return JudgeMachinePart(before, LookAtMachineTraces(installDirectory), ran);
}
