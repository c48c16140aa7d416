#pragma once
#include <windows.h>

// The part of a process command line after the program name and the blanks behind it.
// Bytes are taken as unsigned; inside a quoted name a double-byte lead byte carries its
// trail byte with it, so a trail byte never ends the name.
const char* CommandLineTail(const char* commandLine, UINT codePage = CP_ACP);

// The last "/" or "\" of path, or null when it has none.
char* LastSeparator(char* path);
const char* LastSeparator(const char* path);

// The running executable's full path; false, with the buffer empty, when it could not be had
// whole.
bool ModulePath(char* buffer, DWORD size);

// The running executable's directory with its trailing separator. The buffer holds the
// empty string when the path could not be had whole: a truncated path would name some
// other directory.
char* ModuleDirectory(char* buffer, DWORD size);

// Starts applicationName from the current directory with "applicationName arguments".
bool LaunchCompanion(const char* applicationName, const char* arguments);
