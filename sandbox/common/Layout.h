#pragma once
// Where the sandbox puts a Plendrax installation inside a Wine prefix: where it lies on the
// Windows the prefix stands for. Plendrax's installer is of the staging program's bitness, so
// a 32-bit program in a 64-bit prefix (the shipped exe on 64-bit Windows, under WoW64) finds it
// under "Program Files (x86)", and a program of the system's own bitness under "Program Files"
// (32-bit Windows, and the x86_64 test build). The one place that says so: stage.exe, report.exe
// and the tests call these, and stage.exe writes them to C:\sandbox\layout.txt for the scripts
// (sandbox/layout).
#include <windows.h>

#include <string>

namespace sandbox {

// A 32-bit process on 64-bit Windows.
inline bool UnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The folder a set-up of this process's bitness installs into.
inline const std::string& ProgramFiles() {
    static const std::string path = UnderWow64() ? "C:\\Program Files (x86)" : "C:\\Program Files";
    return path;
}

inline const std::string& InstallParent() {
    static const std::string path = ProgramFiles() + "\\Corvenhalde";
    return path;
}

// With its final separator, as the command line names it.
inline const std::string& InstallDirectory() {
    static const std::string path = InstallParent() + "\\Plendrax\\";
    return path;
}

inline const std::string& UninstallerDirectory() {
    static const std::string path = ProgramFiles() + "\\Plendrax Uninstaller\\";
    return path;
}

inline const std::string& Uninstaller() {
    static const std::string path = UninstallerDirectory() + "UninstallPX.exe";
    return path;
}

// Where this process's system DLLs, and so the stand-ins for them, are found: SysWOW64 for a
// 32-bit process on 64-bit Windows.
inline const std::string& SystemDirectory() {
    static const std::string path =
        UnderWow64() ? "C:\\windows\\syswow64\\" : "C:\\windows\\system32\\";
    return path;
}

} // namespace sandbox

#define SANDBOX_DIRECTORY "C:\\sandbox\\"
#define SANDBOX_LOG_DIRECTORY SANDBOX_DIRECTORY "log\\"
#define SANDBOX_RECORDER SANDBOX_DIRECTORY "recorder.exe"
// The exe that ships: the staged uninstaller itself on the i686 arm; beside the x86_64 test
// build, the PE32 exe it stands for, whose own resources the tests read.
#define SANDBOX_SHIPPED_UNINSTALLER SANDBOX_DIRECTORY "shipped\\UninstallPX.exe"

#define SANDBOX_UNINSTALL_KEY                                                                      \
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvenhalde Plendrax"
// HKEY_LOCAL_MACHINE\Software as the 32-bit installer wrote it and the shipped 32-bit
// uninstaller sees it: the 32-bit view on 64-bit Windows (ignored on 32-bit Windows).
#define SANDBOX_MACHINE_VIEW KEY_WOW64_32KEY
#define SANDBOX_SETTINGS_KEY "Software\\Corvenhalde\\Plendrax\\1.0"
#define SANDBOX_OTHER_PRODUCT_KEY "Software\\Corvenhalde\\Ledgerwick\\2.1"
