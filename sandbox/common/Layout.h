#pragma once
// Where the sandbox puts a Plendrax installation inside a Wine prefix.
#define SANDBOX_INSTALL_PARENT "C:\\Program Files\\Corvenhalde"
#define SANDBOX_INSTALL_DIRECTORY SANDBOX_INSTALL_PARENT "\\Plendrax\\"
#define SANDBOX_UNINSTALLER_DIRECTORY "C:\\Program Files\\Plendrax Uninstaller\\"
#define SANDBOX_UNINSTALLER SANDBOX_UNINSTALLER_DIRECTORY "UninstallPX.exe"
#define SANDBOX_DIRECTORY "C:\\sandbox\\"
#define SANDBOX_LOG_DIRECTORY SANDBOX_DIRECTORY "log\\"
#define SANDBOX_RECORDER SANDBOX_DIRECTORY "recorder.exe"

#define SANDBOX_UNINSTALL_KEY                                                                      \
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvenhalde Plendrax"
#define SANDBOX_SETTINGS_KEY "Software\\Corvenhalde\\Plendrax\\1.0"
#define SANDBOX_OTHER_PRODUCT_KEY "Software\\Corvenhalde\\Ledgerwick\\2.1"
