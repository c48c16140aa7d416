#include "app/CommandLine.h"

#include <shlwapi.h>

const char* CommandLineTail(const char* commandLine, UINT codePage) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            if (IsDBCSLeadByteEx(codePage, *p) && p[1] != '\0')
                ++p;
            ++p;
        }
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p != '\0' && *p <= ' ')
        ++p;
    return reinterpret_cast<const char*>(p);
}

const char* LastSeparator(const char* path) {
    const char* last = nullptr;
    for (; *path != '\0'; ++path) {
        if (*path == '/' || *path == '\\')
            last = path;
    }
    return last;
}

char* LastSeparator(char* path) {
    return const_cast<char*>(LastSeparator(static_cast<const char*>(path)));
}

bool ModulePath(char* buffer, DWORD size) {
    if (size == 0)
        return false;
    DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    if (length != 0 && length < size)
        return true;
    buffer[0] = '\0';
    return false;
}

char* ModuleDirectory(char* buffer, DWORD size) {
    if (!ModulePath(buffer, size))
        return buffer;
    if (char* separator = LastSeparator(buffer))
        separator[1] = '\0';
    return buffer;
}

bool LaunchCompanion(const char* applicationName, const char* arguments) {
    char commandLine[1000];
    wnsprintfA(commandLine, sizeof commandLine, "%s %s", applicationName, arguments);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(applicationName, commandLine, nullptr, nullptr, FALSE,
                                  NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process);
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return started != FALSE;
}
