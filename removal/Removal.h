#pragma once
#include <windows.h>

// The three removal stages. Each reports by its result alone.
bool RemoveProgramFiles(const char* installDirectory);
bool RemoveRegistryEntries();
bool RemoveShortcuts();

// Deletes directory + fileName (the directory ends with its separator). A path that would
// not fit MAX_PATH is not tried: cutting it short could name somebody else's file.
bool DeleteInstalledFile(const char* directory, const char* fileName);

// The longest installation directory whose file paths all fit MAX_PATH.
const size_t MaxInstallDirectoryLength = MAX_PATH - sizeof("UninstallPX.doc"); // 244

bool SpecialFolderPath(HWND owner, char* path, int folder);
bool IsNtPlatform();
