// The shim's functions: a real IsDBCSLeadByteEx, and the rest failing loudly if called.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

BOOL IsDBCSLeadByteEx(UINT codePage, BYTE byte) {
    switch (codePage) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return FALSE;
    }
}

namespace {
[[noreturn]] void NotHere(const char* name) {
    fprintf(stderr, "%s is not available in the native build\n", name);
    abort();
}
} // namespace

DWORD GetModuleFileNameA(void*, char*, DWORD) {
    NotHere("GetModuleFileNameA");
}
int wnsprintfA(char*, int, const char*, ...) {
    NotHere("wnsprintfA");
}
BOOL CreateProcessA(const char*, char*, void*, void*, BOOL, DWORD, void*, const char*,
                    STARTUPINFOA*, PROCESS_INFORMATION*) {
    NotHere("CreateProcessA");
}
BOOL CloseHandle(HANDLE) {
    NotHere("CloseHandle");
}
