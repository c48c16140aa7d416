#pragma once
#include <windows.h>

// The three removal stages. Each reports by its result alone.
// With atRestartWhenInUse (an elevated unattended run of the machine's part), a program file in
// use is scheduled for deletion at the next restart, and the installation directory and the one
// above after it, each when nothing but what is scheduled would be left in it.
bool RemoveProgramFiles(const char* installDirectory, bool atRestartWhenInUse = false);
bool RemoveRegistryEntries();
bool RemoveShortcuts();

// The halves of the registry and shortcut stages: the machine's (the installed-programs entry,
// the Start menu shortcut) and the user's (the settings keys, the desktop shortcut).
void RemoveInstalledProgramsEntry();
void RemoveUserSettings();
void RemoveDesktopShortcut();
bool RemoveStartMenuShortcut(); // the shortcut stage's result
// The Start menu shortcut's full path; false when its folder cannot be found or it does not fit.
bool StartMenuShortcutPath(char (&path)[MAX_PATH]);

// HKEY_LOCAL_MACHINE's key of the product's entry in the installed-programs list.
extern const char InstalledProgramsEntry[];

// Whether Plendrax is installed, as Windows and deployment tools see it: its entry is there.
bool InstalledProgramsEntryPresent();

// True when the installed-programs entry's InstallLocation names another directory than the one
// given, and Plendrax.exe or Setup.exe is still there; location receives that directory (empty
// when there is none). Case, separators and a trailing separator do not count.
bool InstalledElsewhere(const char* installDirectory, char (&location)[MAX_PATH]);

// Deletes directory + fileName (the directory ends with its separator). A path that would
// not fit MAX_PATH is not tried: cutting it short could name somebody else's file.
bool DeleteInstalledFile(const char* directory, const char* fileName);
// directory + fileName into path; false, with nothing formed, when it would not fit.
bool InstalledFilePath(const char* directory, const char* fileName, char (&path)[MAX_PATH]);

// The longest installation directory whose file paths all fit MAX_PATH.
const size_t MaxInstallDirectoryLength = MAX_PATH - sizeof("UninstallPX.doc"); // 244

bool SpecialFolderPath(HWND owner, char* path, int folder);
bool IsNtPlatform();
