// Stands in for programs and documents the uninstaller starts: records its command line
// and current directory, then ends. With /hold it stays running, as a program that somebody
// uses does, until the sandbox's "release" file exists or four minutes have passed.
#include "sandbox/common/Layout.h"
#include "sandbox/common/Record.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, sizeof module);
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    AppendRecord("recorder", "start module=%s|directory=%s|command=%s", module, directory,
                 GetCommandLineA());
    if (std::strstr(GetCommandLineA(), " /hold") != nullptr) {
        for (int n = 0;
             n < 2400 && GetFileAttributesA(SANDBOX_DIRECTORY "release") == INVALID_FILE_ATTRIBUTES;
             ++n)
            Sleep(100);
    }
    return 0;
}
