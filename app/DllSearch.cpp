#include "app/DllSearch.h"

#include <windows.h>

void RestrictDllSearchToSystemDirectory() {
    // Found at run time: a system without the loader update lacks it, and then the current
    // directory is at least dropped from the search below.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefaultDllDirectories = reinterpret_cast<decltype(&SetDefaultDllDirectories)>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");
}
