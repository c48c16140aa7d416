// A DLL that somebody planted: copied beside the uninstaller and into its current directory
// under the names of the DLLs it loads at run time. Loading it is all it takes to be caught:
// it notes where it was loaded from in C:\sandbox\log\planted.log.
#include "sandbox/common/Record.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(instance, path, sizeof path);
        AppendRecord("planted", "loaded %s", path);
    }
    return TRUE;
}
