#pragma once
// Where the sandbox puts a Plendrax installation inside a Wine prefix.
#define SANDBOX_INSTALL_PARENT "C:\\Program Files\\Corvenhalde"
#define SANDBOX_INSTALL_DIRECTORY SANDBOX_INSTALL_PARENT "\\Plendrax\\"
#define SANDBOX_UNINSTALLER_DIRECTORY "C:\\Program Files\\Plendrax Uninstaller\\"
#define SANDBOX_UNINSTALLER SANDBOX_UNINSTALLER_DIRECTORY "UninstallPX.exe"
#define SANDBOX_DIRECTORY "C:\\sandbox\\"
#define SANDBOX_LOG_DIRECTORY SANDBOX_DIRECTORY "log\\"
#define SANDBOX_RECORDER SANDBOX_DIRECTORY "recorder.exe"
// The exe that ships: the staged uninstaller itself on the i686 arm; beside the x86_64 test
// build, the PE32 exe it stands for, whose own resources the tests read.
#define SANDBOX_SHIPPED_UNINSTALLER SANDBOX_DIRECTORY "shipped\\UninstallPX.exe"

#define SANDBOX_UNINSTALL_KEY                                                                      \
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvenhalde Plendrax"
// HKEY_LOCAL_MACHINE\Software as the 32-bit installer wrote it and the shipped 32-bit
// uninstaller sees it: the 32-bit view on 64-bit Windows (ignored in a 32-bit prefix).
#define SANDBOX_MACHINE_VIEW KEY_WOW64_32KEY
#define SANDBOX_SETTINGS_KEY "Software\\Corvenhalde\\Plendrax\\1.0"
#define SANDBOX_OTHER_PRODUCT_KEY "Software\\Corvenhalde\\Ledgerwick\\2.1"
