#pragma once
#include <windows.h>

// The module instance every resource is loaded from; written once, first thing.
extern HINSTANCE InstanceHandle;

// Chooses what the program does with its command-line tail: launch the companion (empty tail),
// uninstall (options, "%" and the installation directory), refuse a malformed option list, or
// nothing. Returns the exit code.
int DispatchCommandLine(const char* tail);
