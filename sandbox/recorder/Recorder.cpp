// Stands in for programs and documents the uninstaller starts: records its command line
// and current directory, then ends.
#include "sandbox/common/Record.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, sizeof module);
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    AppendRecord("recorder", "start module=%s|directory=%s|command=%s", module, directory,
                 GetCommandLineA());
    return 0;
}
