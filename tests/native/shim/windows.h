#pragma once
// The few Win32 declarations that the pure pieces (the command-line tail, path separators, hex
// ids) and their neighbours in the same files need, for a native build with the sanitizers.
// Only IsDBCSLeadByteEx does anything; the rest must never be called (native/Stubs.cpp).
#include <cstddef>
#include <cstring>

typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef unsigned char BYTE;
typedef int BOOL;
typedef long HRESULT;
typedef void* HANDLE;
typedef char* LPSTR;

#define FALSE 0
#define TRUE 1
#define CP_ACP 0
#define NORMAL_PRIORITY_CLASS 0x20
#define FAILED(hr) ((HRESULT)(hr) < 0)
#define ZeroMemory(p, n) memset((p), 0, (n))

struct STARTUPINFOA {
    DWORD cb;
    char rest[64];
};
struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// Lead bytes of the double-byte code pages 932 (Shift-JIS) and 936, 949, 950; none in others.
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE byte);

DWORD GetModuleFileNameA(void* module, char* buffer, DWORD size);
int wnsprintfA(char* buffer, int size, const char* format, ...);
BOOL CreateProcessA(const char* application, char* commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inherit, DWORD flags, void* environment,
                    const char* directory, STARTUPINFOA* startup, PROCESS_INFORMATION* process);
BOOL CloseHandle(HANDLE handle);
