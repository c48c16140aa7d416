#pragma once
// What an end-to-end test looks at in its sandbox prefix after a run: files, registry keys,
// shortcuts and the stand-ins' records.
#include <windows.h>

#include <string>
#include <vector>

bool FileExists(const std::string& path);
void CreateFileWithText(const std::string& path, const std::string& text = "x");
std::string ReadWholeFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path); // empty when missing

bool KeyExists(HKEY root, const std::string& key);
bool ValueExists(HKEY root, const std::string& key, const char* value);
void SetStringValue(HKEY root, const std::string& key, const char* name, const char* value);

// The shell folder's path, e.g. CSIDL_DESKTOPDIRECTORY.
std::string FolderPath(int csidl);

// One System Restore request as the stand-in recorded it.
struct RestoreRequest {
    long long event = -1, type = -1, sequence = -1, statusIn = -1, messageBoxes = -1;
    bool terminated = false;
    DWORD tick = 0;
    std::string description;
};
std::vector<RestoreRequest> RestoreRequests();

// One start of the recorder (as the companion program or as the .doc opener).
struct RecordedStart {
    std::string module, directory, command;
};
std::vector<RecordedStart> RecordedStarts();
