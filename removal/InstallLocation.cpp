#include "removal/Removal.h"

#include "removal/RegistryView.h"

#include <cstring>

namespace {

// Separators as backslashes, no trailing one: "C:/Apps/Plendrax/" and "c:\apps\plendrax" are
// the same directory to compare.
void Normalise(char (&path)[MAX_PATH]) {
    size_t length = 0;
    for (; path[length] != '\0'; ++length)
        if (path[length] == '/')
            path[length] = '\\';
    while (length > 0 && path[length - 1] == '\\')
        path[--length] = '\0';
}

bool FileIn(const char* directory, const char* name) {
    char path[MAX_PATH];
    size_t length = std::strlen(directory), nameLength = std::strlen(name);
    if (length + 1 + nameLength >= sizeof path)
        return false;
    std::memcpy(path, directory, length);
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool InstalledElsewhere(const char* installDirectory, char (&location)[MAX_PATH]) {
    location[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, InstalledProgramsEntry, 0,
                      KEY_QUERY_VALUE | ViewOf(HKEY_LOCAL_MACHINE), &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof location - 1;
    LONG read = RegQueryValueExA(key, "InstallLocation", nullptr, &type,
                                 reinterpret_cast<BYTE*>(location), &size);
    RegCloseKey(key);
    // A value that is not there, not text or too long to compare gives no second directory.
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        location[0] = '\0';
        return false;
    }
    location[size] = '\0';
    char given[MAX_PATH];
    if (std::strlen(installDirectory) >= sizeof given)
        return false;
    std::strcpy(given, installDirectory);
    Normalise(given);
    Normalise(location);
    if (location[0] == '\0' || lstrcmpiA(given, location) == 0)
        return false;
    // Only a location that still holds the product's programs is the installation; one the
    // files have already left tells nothing against the directory given.
    return FileIn(location, "Plendrax.exe") || FileIn(location, "Setup.exe");
}

bool InstalledProgramsEntryPresent() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, InstalledProgramsEntry, 0,
                      KEY_QUERY_VALUE | ViewOf(HKEY_LOCAL_MACHINE), &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
