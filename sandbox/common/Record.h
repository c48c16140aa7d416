#pragma once
// The stand-ins' call record: one line per event appended to C:\sandbox\log\<name>.log,
// written through at once so that a crash loses nothing.
#include <windows.h>

#include <cstdarg>
#include <cstdio>

// SANDBOX_BENCH=1 in the environment: the stand-ins run as lean as they can for a benchmark
// (no records, released objects freed, call counts only where a fault needs them).
inline bool BenchMode() {
    static const bool on = [] {
        char value[4];
        DWORD length = GetEnvironmentVariableA("SANDBOX_BENCH", value, sizeof value);
        return length == 1 && value[0] == '1';
    }();
    return on;
}

inline void AppendRecord(const char* logName, const char* format, ...) {
    if (BenchMode())
        return;
    char line[2048];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line - 2, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    if (length > int(sizeof line) - 3)
        length = int(sizeof line) - 3;
    line[length++] = '\r';
    line[length++] = '\n';

    CreateDirectoryA("C:\\sandbox", nullptr);
    CreateDirectoryA("C:\\sandbox\\log", nullptr);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "C:\\sandbox\\log\\%s.log", logName);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, DWORD(length), &written, nullptr);
    CloseHandle(file);
}
