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

bool HasSubkeys(HKEY root, const char* subKey) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE | ViewOf(root), &key) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0;
    bool has = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
               subkeys > 0;
    RegCloseKey(key);
    return has;
}

// A key with subkeys is not deleted (Windows answers access denied): it is kept, not failed.
void DeleteKey(HKEY root, const char* subKey, bool productTrace = true) {
    LONG error = DeleteRegistryKey(root, subKey);
    TraceFate fate = TraceFate::Tried;
    if (!TraceGone(DWORD(error)) && HasSubkeys(root, subKey))
        fate = productTrace ? TraceFate::NotEmpty : TraceFate::Kept;
    ReportTrace(Trace::RegistryKey, root, subKey, nullptr, DWORD(error), productTrace, fate);
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
