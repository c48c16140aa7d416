#pragma once
// What the MAPI tests share: the "MAPIX" registry value, the stand-in MAPI32.DLL (picked from
// the build's sandbox directory through the DLL search path), its profile and its call log.
#include "mapi/MapiSession.h"
#include "mapi/MapiSessionClass.h"
#include "tests/support/SandboxState.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace mapitest {

const char* const SubsystemKey = "SOFTWARE\\Microsoft\\Windows Messaging Subsystem";

inline void SetMapix(DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SubsystemKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        throw std::string("cannot create the messaging subsystem key");
    LONG status = RegSetValueExA(key, "MAPIX", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        throw std::string("cannot set MAPIX");
}

inline void SetMapixText(const char* text) {
    SetMapix(REG_SZ, text, DWORD(strlen(text) + 1));
}

inline void DeleteMapix() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SubsystemKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "MAPIX");
        RegCloseKey(key);
    }
}

// The build's sandbox directory, three levels above this test program.
inline std::string StandInDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length);
    directory.erase(directory.find_last_of("\\/") + 1);
    return directory + "..\\..\\..\\sandbox";
}

// Lets LoadLibraryA("MAPI32.DLL") find the stand-in, or its variant without MAPILogonEx.
inline void UseStandIn(bool withLogon) {
    std::string directory = StandInDirectory() + (withLogon ? "" : "\\nologon");
    SetDllDirectoryA(directory.c_str());
}

inline void WriteFileText(const char* path, const std::string& text) {
    CreateDirectoryA("C:\\sandbox", nullptr);
    if (!CreateFileWithText(path, text))
        throw std::string("cannot write ") + path;
}

// The stand-in's call record, one event a line.
inline std::vector<std::string> Mapi32Log() {
    std::string text = ReadWholeFile("C:\\sandbox\\log\\mapi32.log");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

inline bool StartsWith(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// Lines of the log that start with prefix.
inline std::vector<std::string> Events(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : Mapi32Log())
        if (StartsWith(line, prefix))
            found.push_back(line);
    return found;
}

inline size_t CountEvents(const std::string& prefix) {
    return Events(prefix).size();
}

// Position of the first line starting with prefix, or -1.
inline int EventIndex(const std::string& prefix) {
    std::vector<std::string> lines = Mapi32Log();
    for (size_t i = 0; i < lines.size(); ++i)
        if (StartsWith(lines[i], prefix))
            return int(i);
    return -1;
}

// The profile the stand-ins wrote when they were unloaded.
inline std::string ProfileOut() {
    return ReadWholeFile("C:\\sandbox\\log\\profile.out");
}

// The profile.out line of the folder with this name.
inline std::string ProfileFolderLine(const std::string& name) {
    std::string text = ProfileOut();
    size_t at = text.find("folder \"" + name + "\"");
    if (at == std::string::npos)
        return std::string();
    return text.substr(at, text.find("\r\n", at) - at);
}

inline bool Mapi32Loaded() {
    return GetModuleHandleA("MAPI32.DLL") != nullptr;
}

// A clean start: no session, latch clear, no logs, the given profile, "MAPIX" = "1", no
// Outlook bitness recorded and the full stand-in on the search path.
inline void FreshScenario(const std::string& profile) {
    ReleaseMapiSession();
    ClearMapiFailureLatchForTesting();
    RecordOutlookBitness(nullptr, 0);
    DeleteFileA("C:\\sandbox\\log\\mapi32.log");
    DeleteFileA("C:\\sandbox\\log\\profile.out");
    DeleteFileA("C:\\sandbox\\log\\profile.log");
    WriteFileText("C:\\sandbox\\profile.txt", profile);
    SetMapixText("1");
    UseStandIn(true);
}

} // namespace mapitest
