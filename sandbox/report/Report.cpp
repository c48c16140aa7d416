// Prints what of a Plendrax installation is in the prefix it runs in: the demo's before and
// after.
#include "sandbox/common/Layout.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ListDirectory(const char* directory) {
    std::printf("  %s\n", directory);
    if (!Exists(directory)) {
        std::printf("    (gone)\n");
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(directory) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.cFileName[0] != '.')
            std::printf("    %s\n", found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void ShowKey(HKEY root, const char* rootName, const char* subKey) {
    HKEY key;
    REGSAM view = root == HKEY_LOCAL_MACHINE ? SANDBOX_MACHINE_VIEW : 0;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        std::printf("  %s\\%s: (gone)\n", rootName, subKey);
        return;
    }
    DWORD values = 0, subKeys = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    std::printf("  %s\\%s: %lu values, %lu subkeys\n", rootName, subKey, values, subKeys);
    RegCloseKey(key);
}

void ShowShortcut(const char* what, int csidl) {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    std::string shortcut = std::string(path) + "\\Plendrax.lnk";
    std::printf("  %-28s %s: %s\n", what, shortcut.c_str(),
                Exists(shortcut) ? "present" : "(gone)");
}

} // namespace

int main() {
    std::printf("Files\n");
    ListDirectory(sandbox::InstallDirectory().c_str());
    std::printf("  %s: %s\n", sandbox::InstallParent().c_str(),
                Exists(sandbox::InstallParent()) ? "present" : "(gone)");
    std::printf("Registry\n");
    ShowKey(HKEY_LOCAL_MACHINE, "HKLM", SANDBOX_UNINSTALL_KEY);
    ShowKey(HKEY_CURRENT_USER, "HKCU", SANDBOX_SETTINGS_KEY);
    ShowKey(HKEY_CURRENT_USER, "HKCU", "Software\\Corvenhalde\\Plendrax");
    ShowKey(HKEY_CURRENT_USER, "HKCU", "Software\\Corvenhalde");
    ShowKey(HKEY_CURRENT_USER, "HKCU", SANDBOX_OTHER_PRODUCT_KEY);
    std::printf("Shortcuts\n");
    ShowShortcut("desktop", CSIDL_DESKTOPDIRECTORY);
    ShowShortcut("all users' Start menu", CSIDL_COMMON_PROGRAMS);
    ShowShortcut("user's own Start menu (kept)", CSIDL_PROGRAMS);
    return 0;
}
