// Stages the data of a Plendrax installation in the prefix it runs in: the installation's
// files, its registry entries beside another product of the same maker, the shortcuts,
// the uninstall document and a .doc association that opens documents with the recorder.
// The build's programs are copied in by sandbox/stage-install.
#include "sandbox/common/Layout.h"
#include "sandbox/common/MailProfiles.h"
#include "sandbox/common/OutlookBitness.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "stage: %s failed\n", what);
        ++failures;
    }
}

void WriteTextFile(const std::string& path, const char* text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(file != INVALID_HANDLE_VALUE, path.c_str());
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, text, DWORD(std::strlen(text)), &written, nullptr);
    CloseHandle(file);
}

void SetString(HKEY root, const char* subKey, const char* name, const char* value,
               REGSAM view = 0) {
    HKEY key;
    LONG result =
        RegCreateKeyExA(root, subKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr);
    Check(result == ERROR_SUCCESS, subKey);
    if (result != ERROR_SUCCESS)
        return;
    Check(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                         DWORD(std::strlen(value) + 1)) == ERROR_SUCCESS,
          name);
    RegCloseKey(key);
}

void SetNumber(HKEY root, const char* subKey, const char* name, DWORD value) {
    HKEY key;
    LONG result = RegCreateKeyExA(root, subKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    Check(result == ERROR_SUCCESS, subKey);
    if (result != ERROR_SUCCESS)
        return;
    Check(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value) == ERROR_SUCCESS,
          name);
    RegCloseKey(key);
}

void MakeShortcut(int folder, const std::string& target) {
    char path[MAX_PATH];
    Check(SHGetSpecialFolderPathA(nullptr, path, folder, TRUE) != FALSE, "special folder");
    std::strcat(path, "\\Plendrax.lnk");
    IShellLinkA* link = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link));
    Check(SUCCEEDED(hr), "shell link");
    if (FAILED(hr))
        return;
    link->SetPath(target.c_str());
    link->SetDescription("Plendrax");
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
        Check(SUCCEEDED(file->Save(widePath, TRUE)), path);
        file->Release();
    }
    link->Release();
}

void StageFiles() {
    CreateDirectoryA(sandbox::InstallParent().c_str(), nullptr);
    Check(CreateDirectoryA(sandbox::InstallDirectory().c_str(), nullptr) != FALSE,
          "install directory");
    WriteTextFile(sandbox::InstallDirectory() + "Plendrax.chm", "Plendrax help\r\n");
    WriteTextFile(sandbox::InstallDirectory() + "UninstallPX.doc",
                  "Plendrax: removing the form\r\n");
    WriteTextFile(sandbox::InstallDirectory() + "pad_file.xml", "<XML_DIZ_INFO/>\r\n");
    WriteTextFile(sandbox::InstallDirectory() + "Setup.exe", "Plendrax set-up\r\n");
    // Plendrax.exe is the recorder, copied in with the build's programs.

    Check(CreateDirectoryA(sandbox::UninstallerDirectory().c_str(), nullptr) != FALSE,
          "uninstaller dir");
    WriteTextFile(sandbox::UninstallerDirectory() + "UninstallPX.doc",
                  "Plendrax: removing the form by hand\r\n");
    CreateDirectoryA(SANDBOX_DIRECTORY, nullptr);
    CreateDirectoryA(SANDBOX_LOG_DIRECTORY, nullptr);
    // The same places for the scripts (sandbox/layout), as this process sees them.
    WriteTextFile(SANDBOX_DIRECTORY "layout.txt",
                  ("install_directory=" + sandbox::InstallDirectory() +
                   "\nuninstaller=" + sandbox::Uninstaller() +
                   "\nsystem_directory=" + sandbox::SystemDirectory() + "\n")
                      .c_str());
}

void StageRegistry() {
    // Where Plendrax's 32-bit installer writes it: the 32-bit view on 64-bit Windows.
    const char* key = SANDBOX_UNINSTALL_KEY;
    const REGSAM view = SANDBOX_MACHINE_VIEW;
    SetString(HKEY_LOCAL_MACHINE, key, "DisplayName", "Plendrax", view);
    SetString(HKEY_LOCAL_MACHINE, key, "UninstallString",
              ("\"" + sandbox::Uninstaller() + "\" %" + sandbox::InstallDirectory()).c_str(), view);
    SetString(HKEY_LOCAL_MACHINE, key, "InstallLocation", sandbox::InstallDirectory().c_str(),
              view);
    SetString(HKEY_LOCAL_MACHINE, key, "Publisher", "Corvenhalde", view);

    const char* settings = SANDBOX_SETTINGS_KEY;
    const char* const strings[] = {"SubjectTemplate",      "CompletedTemplate", "TasksFolder",
                                   "CompletedTasksFolder", "CalendarFolder",    "OutputCalFolder",
                                   "FirstTaskDate",        "TaskOrder",         "Breaks",
                                   "TaskShortcuts"};
    for (const char* name : strings)
        SetString(HKEY_CURRENT_USER, settings, name, "x");
    const char* const numbers[] = {"UpdateCalendar",     "UpdateStartAndDue",  "DefaultToCurrent",
                                   "KeepProgressRecord", "MoveCompletedTasks", "Snap",
                                   "SnapMinutes",        "IgnoreDeferred",     "IgnoreWaiting",
                                   "ReminderDuration",   "MessageDone",        "AllPrivateEntries",
                                   "AlertStatus"};
    for (const char* name : numbers)
        SetNumber(HKEY_CURRENT_USER, settings, name, 1);
    SetString(HKEY_CURRENT_USER, "Software\\Corvenhalde\\Plendrax", "Licensee", "Sandbox");
    SetString(HKEY_CURRENT_USER, SANDBOX_OTHER_PRODUCT_KEY, "Licensee", "Sandbox");

    SetString(HKEY_CLASSES_ROOT, ".doc", "", "Sandbox.Document");
    SetString(HKEY_CLASSES_ROOT, "Sandbox.Document\\shell\\open\\command", "",
              "\"" SANDBOX_RECORDER "\" \"%1\"");
}

void StageShortcuts() {
    const std::string target = sandbox::InstallDirectory() + "Plendrax.exe";
    MakeShortcut(CSIDL_DESKTOPDIRECTORY, target);
    MakeShortcut(CSIDL_COMMON_PROGRAMS, target);
    // The user's own Start menu is not the uninstaller's on NT: this one must survive.
    MakeShortcut(CSIDL_PROGRAMS, target);
}

// Outlook with Extended MAPI, set up by its user: the stand-in server registered for Outlook's
// application class as a local server, as users have Outlook, the registry's word that
// Extended MAPI is installed, and the user's one mail profile, the default.
void StageOutlook() {
    Check(sandbox::RegisterOutlookLocalServer(), "Outlook's local server");
    SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Messaging Subsystem", "MAPIX", "1");
    Check(sandbox::RecordMailProfile(sandbox::MailProfile::Default), "mail profile");
}

// "x86" or "x64", then where Office records it besides the sandbox's truth: both places,
// or after a colon one of "outlook" (the Outlook key's Bitness), "clicktorun" (Click-to-Run's
// Platform) or "none"; "none" alone removes every record.
bool StageOutlookBitness(const char* option) {
    const char* colon = std::strchr(option, ':');
    std::string bitness(option, colon ? size_t(colon - option) : std::strlen(option));
    std::string where = colon ? colon + 1 : "";
    if (bitness == "none" && where.empty())
        return sandbox::RecordOutlookBitness(nullptr, 0);
    unsigned places = where.empty() ? sandbox::OutlookKeyBitness | sandbox::ClickToRunPlatform
                      : where == "outlook"    ? sandbox::OutlookKeyBitness
                      : where == "clicktorun" ? sandbox::ClickToRunPlatform
                      : where == "none"       ? 0u
                                              : ~0u;
    if ((bitness != "x86" && bitness != "x64") || places == ~0u) {
        std::fprintf(stderr,
                     "stage: --outlook-bitness=%s: x86 or x64, optionally with :outlook, "
                     ":clicktorun or :none; or none\n",
                     option);
        return false;
    }
    return sandbox::RecordOutlookBitness(bitness.c_str(), places);
}

} // namespace

// stage.exe             the installation
// stage.exe --outlook   Outlook and Extended MAPI, for the profile in C:\sandbox\profile.txt
// stage.exe --outlook-bitness=x64[:outlook|:clicktorun|:none]   the installed Outlook's bitness
int main(int argc, char** argv) {
    const char bitnessOption[] = "--outlook-bitness=";
    if (argc > 1 && std::strncmp(argv[1], bitnessOption, sizeof bitnessOption - 1) == 0)
        return StageOutlookBitness(argv[1] + sizeof bitnessOption - 1) ? 0 : 1;
    if (argc > 1 && std::strcmp(argv[1], "--outlook") == 0) {
        StageOutlook();
        return failures == 0 ? 0 : 1;
    }
    CoInitialize(nullptr);
    StageFiles();
    StageRegistry();
    StageShortcuts();
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
