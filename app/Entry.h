#pragma once
#include <windows.h>

// The module instance every resource is loaded from; written once, first thing.
extern HINSTANCE InstanceHandle;

// Chooses what the program does with its command-line tail: launch the companion
// (empty tail), uninstall ("%" and the installation directory) or nothing.
void DispatchCommandLine(const char* tail);
