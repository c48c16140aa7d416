#pragma once
// REG_SZ values as the sandbox reads and writes its records: Office's, the user's mail profiles,
// the sandbox's own truth.
#include <windows.h>

#include <cstring>
#include <string>

namespace sandbox {

// The value in the view given; empty when there is none.
inline std::string RegistryText(HKEY root, const char* subKey, const char* name, REGSAM view = 0) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return std::string();
    char text[MAX_PATH] = "";
    DWORD type = 0, size = sizeof text - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return std::string();
    text[size] = '\0';
    return text;
}

// Writes the value, making its key; false when it could not.
inline bool SetRegistryText(HKEY root, const char* subKey, const char* name, const char* text,
                            REGSAM view = 0) {
    HKEY key;
    if (RegCreateKeyExA(root, subKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 DWORD(std::strlen(text) + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace sandbox
