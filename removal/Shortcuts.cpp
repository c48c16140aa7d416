#include "removal/Removal.h"

#include "removal/TraceReport.h"

#include <shlobj.h>

#include <cstring>

namespace {

const char shortcutName[] = "\\Plendrax.lnk";

// Appends the shortcut's name and deletes it; a folder path too long for both is not tried.
bool DeleteShortcutIn(char (&path)[MAX_PATH]) {
    size_t length = std::strlen(path);
    if (length + sizeof shortcutName > sizeof path) {
        ReportTrace(Trace::Shortcut, nullptr, path, shortcutName, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::memcpy(path + length, shortcutName, sizeof shortcutName);
    BOOL deleted = DeleteFileA(path);
    ReportTrace(Trace::Shortcut, nullptr, path, nullptr, deleted ? 0 : GetLastError());
    return deleted != FALSE;
}

} // namespace

bool SpecialFolderPath(HWND owner, char* path, int folder) {
    IMalloc* allocator = nullptr;
    // Without the shell's allocator an item list could not be freed: report no folder.
    if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr)
        return false;
    LPITEMIDLIST items = nullptr;
    if (SHGetSpecialFolderLocation(owner, folder, &items) != S_OK) {
        allocator->Release();
        return false;
    }
    bool found = SHGetPathFromIDListA(items, path) != FALSE;
    if (items != nullptr)
        allocator->Free(items);
    allocator->Release();
    return found;
}

bool IsNtPlatform() {
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // Every system still in use is of the NT family: a failed query is taken to say so.
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    GetVersionExA(&version);
    return ((version.dwPlatformId >> 1) & 1) != 0;
}

void RemoveDesktopShortcut() {
    char path[MAX_PATH];
    if (SpecialFolderPath(nullptr, path, CSIDL_DESKTOPDIRECTORY))
        DeleteShortcutIn(path);
    else
        ReportTrace(Trace::Shortcut, nullptr, nullptr, "desktop", ERROR_BAD_PATHNAME);
}

int ProgramsFolder() {
    return IsNtPlatform() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
}

bool StartMenuShortcutPath(char (&path)[MAX_PATH]) {
    if (!SpecialFolderPath(nullptr, path, ProgramsFolder()))
        return false;
    size_t length = std::strlen(path);
    if (length + sizeof shortcutName > sizeof path)
        return false;
    std::memcpy(path + length, shortcutName, sizeof shortcutName);
    return true;
}

bool RemoveStartMenuShortcut() {
    char path[MAX_PATH];
    if (!SpecialFolderPath(nullptr, path, ProgramsFolder())) {
        // Whether a shortcut is left there cannot be told: it counts as left.
        ReportTrace(Trace::Shortcut, nullptr, nullptr, "Start menu programs", ERROR_BAD_PATHNAME);
        return false;
    }
    return DeleteShortcutIn(path);
}

bool RemoveShortcuts() {
    RemoveDesktopShortcut();
    return RemoveStartMenuShortcut();
}
