#include "removal/Removal.h"

#include "removal/RegistryView.h"
#include "removal/TraceReport.h"

namespace {

const char* const uninstallValues[] = {"DisplayName", "UninstallString", "InstallLocation"};

const char settingsKey[] = "Software\\Corvenhalde\\Plendrax\\1.0";
const char* const settingsValues[] = {"UpdateCalendar",
                                      "UpdateStartAndDue",
                                      "DefaultToCurrent",
                                      "FirstTaskDate",
                                      "TaskOrder",
                                      "Breaks",
                                      "KeepProgressRecord",
                                      "SubjectTemplate",
                                      "CompletedTemplate",
                                      "TasksFolder",
                                      "CompletedTasksFolder",
                                      "MoveCompletedTasks",
                                      "Snap",
                                      "SnapMinutes",
                                      "CalendarFolder",
                                      "OutputCalFolder",
                                      "IgnoreDeferred",
                                      "IgnoreWaiting",
                                      "ReminderDuration",
                                      "MessageDone",
                                      "AllPrivateEntries",
                                      "TaskShortcuts",
                                      "AlertStatus"};

// The product's keys, innermost first: a key that still has subkeys survives.
const char* const userKeys[] = {"Software\\Corvenhalde\\Plendrax\\1.0",
                                "Software\\Corvenhalde\\Plendrax"};
// The maker's key stays while another of the maker's products has its key in it.
const char makerKey[] = "Software\\Corvenhalde";

template <size_t N>
void DeleteValues(HKEY root, const char* subKey, const char* const (&names)[N]) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_WRITE | ViewOf(root), &key) != ERROR_SUCCESS)
        return;
    for (const char* name : names)
        ReportTrace(Trace::RegistryValue, root, subKey, name, RegDeleteValueA(key, name));
    RegCloseKey(key);
}

void DeleteKey(HKEY root, const char* subKey, bool productTrace = true) {
    ReportTrace(Trace::RegistryKey, root, subKey, nullptr, DeleteRegistryKey(root, subKey),
                productTrace);
}

} // namespace

const char InstalledProgramsEntry[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvenhalde Plendrax";

void RemoveInstalledProgramsEntry() {
    DeleteValues(HKEY_LOCAL_MACHINE, InstalledProgramsEntry, uninstallValues);
    DeleteKey(HKEY_LOCAL_MACHINE, InstalledProgramsEntry);
}

void RemoveUserSettings() {
    DeleteValues(HKEY_CURRENT_USER, settingsKey, settingsValues);
    for (const char* key : userKeys)
        DeleteKey(HKEY_CURRENT_USER, key);
    DeleteKey(HKEY_CURRENT_USER, makerKey, false);
}

bool RemoveRegistryEntries() {
    RemoveInstalledProgramsEntry();
    RemoveUserSettings();
    return true;
}
