#include "tests/support/SandboxState.h"

#include "sandbox/common/Layout.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateFileWithText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return !file.fail();
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    return SplitLines(ReadWholeFile(path));
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& a,
                       const std::string& b) {
    size_t count = 0;
    for (const std::string& line : lines)
        count += line.find(a) != std::string::npos && line.find(b) != std::string::npos;
    return count;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

namespace {

REGSAM ViewFlag(HKEY root, View view) {
    if (view == View::Wow64_64)
        return KEY_WOW64_64KEY;
    return view == View::Shipped && root == HKEY_LOCAL_MACHINE ? SANDBOX_MACHINE_VIEW : 0;
}

} // namespace

bool KeyExists(HKEY root, const std::string& key, View view) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | ViewFlag(root, view), &opened) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::string StringValue(HKEY root, const std::string& key, const char* name, View view) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | ViewFlag(root, view), &opened) !=
        ERROR_SUCCESS)
        return std::string();
    char text[1024];
    DWORD type = 0, size = sizeof text - 1;
    LONG read =
        RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(opened);
    if (read != ERROR_SUCCESS || type != REG_SZ)
        return std::string();
    text[size] = '\0';
    return text;
}

bool ValueExists(HKEY root, const std::string& key, const char* value, View view) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | ViewFlag(root, view), &opened) !=
        ERROR_SUCCESS)
        return false;
    bool found =
        RegQueryValueExA(opened, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return found;
}

void SetStringValue(HKEY root, const std::string& key, const char* name, const char* value,
                    View view) {
    HKEY opened;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | ViewFlag(root, view), nullptr,
                        &opened, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   DWORD(std::strlen(value) + 1));
    RegCloseKey(opened);
}

std::vector<std::string> PendingAtRestart() {
    std::vector<std::string> pending;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return pending;
    DWORD type = 0, size = 0;
    std::string list;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
        ERROR_SUCCESS) {
        list.resize(size + 2);
        if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                             reinterpret_cast<BYTE*>(&list[0]), &size) != ERROR_SUCCESS)
            size = 0;
        list.resize(size);
    }
    RegCloseKey(key);
    // Pairs of zero-terminated strings, an empty target for a deletion, and one more zero.
    for (size_t at = 0; at < list.size() && list[at] != '\0';) {
        std::string source = list.c_str() + at;
        at += source.size() + 1;
        std::string target = at < list.size() ? list.c_str() + at : "";
        at += target.size() + 1;
        pending.push_back(target.empty() ? source : source + " -> " + target);
    }
    return pending;
}

void RegisterOutlookStandin(OutlookServer server) {
    sandbox::RecordMailProfile(sandbox::MailProfile::Default);
    // With both registered, COM would take the in-process one: only the chosen one stays.
    for (const char* id : {SANDBOX_OUTLOOK_CLASS, SANDBOX_OUTLOOK_OLD_CLASS}) {
        const std::string key = std::string("CLSID\\") + id + "\\InprocServer32";
        if (server == OutlookServer::Local) {
            RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
            continue;
        }
        SetStringValue(HKEY_CLASSES_ROOT, key, nullptr, SANDBOX_DIRECTORY "OutlookStandin.dll");
        SetStringValue(HKEY_CLASSES_ROOT, key, "ThreadingModel", "Apartment");
    }
    if (server == OutlookServer::Local) {
        sandbox::RegisterOutlookLocalServer();
        return;
    }
    sandbox::bitness::RemoveLocalServer(KEY_WOW64_64KEY);
    sandbox::bitness::RemoveLocalServer(KEY_WOW64_32KEY);
}

std::vector<std::string> OutlookMembersNotFound() {
    std::vector<std::string> refused;
    for (const std::string& line : ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log"))
        if (line.find("-> 0x80020003") != std::string::npos)
            refused.push_back(line);
    return refused;
}

std::vector<DWORD> OutlookServerProcesses() {
    std::vector<DWORD> processes;
    for (const std::string& line : ReadLines(SANDBOX_LOG_DIRECTORY "outlook.log")) {
        size_t at = line.find("server start pid=");
        if (at != std::string::npos)
            processes.push_back(DWORD(std::strtoul(line.c_str() + at + 17, nullptr, 10)));
    }
    return processes;
}

bool OutlookServersGone(DWORD limitMs) {
    DWORD start = GetTickCount();
    for (DWORD id : OutlookServerProcesses()) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (process == nullptr)
            continue; // already gone
        DWORD spent = GetTickCount() - start;
        DWORD waited = WaitForSingleObject(process, spent < limitMs ? limitMs - spent : 0);
        CloseHandle(process);
        if (waited != WAIT_OBJECT_0)
            return false;
    }
    return true;
}

void SetExtendedMapi(bool present) {
    const char subsystem[] = "SOFTWARE\\Microsoft\\Windows Messaging Subsystem";
    if (present) {
        SetStringValue(HKEY_LOCAL_MACHINE, subsystem, "MAPIX", "1", View::Own);
        return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subsystem, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "MAPIX");
        RegCloseKey(key);
    }
}

bool RecordOutlookBitness(const char* bitness, unsigned places) {
    return sandbox::RecordOutlookBitness(bitness, places);
}

const char* OtherBitness() {
    return sizeof(void*) == 8 ? "x86" : "x64";
}

std::string UninstallerString(UINT id) {
    HMODULE module =
        LoadLibraryExA(sandbox::Uninstaller().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return "<no uninstaller>";
    char text[1000] = "";
    LoadStringA(module, id, text, sizeof text);
    FreeLibrary(module);
    return text;
}

std::string ShellFolderPath(int csidl) {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

std::string ShortcutIn(int csidl) {
    return ShellFolderPath(csidl) + "\\Plendrax.lnk";
}

const char* const ProductFiles[5] = {"Plendrax.chm", "UninstallPX.doc", "pad_file.xml",
                                     "Plendrax.exe", "Setup.exe"};

namespace {

// "name=value" fields of a record line; the last field's value runs to the line's end.
std::string Field(const std::string& line, const std::string& name, bool toEnd = false) {
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos)
        return "";
    at += name.size() + 2;
    size_t end = toEnd ? std::string::npos : line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

} // namespace

std::vector<RestoreRequest> RestoreRequests() {
    std::vector<RestoreRequest> requests;
    for (const std::string& line : ReadLines(SANDBOX_LOG_DIRECTORY "srclient.log")) {
        RestoreRequest request;
        request.event = std::atoll(Field(line, "event").c_str());
        request.type = std::atoll(Field(line, "type").c_str());
        request.sequence = std::atoll(Field(line, "sequence").c_str());
        request.statusIn = std::atoll(Field(line, "status_in").c_str());
        request.terminated = Field(line, "terminated") == "1";
        request.messageBoxes = std::atoll(Field(line, "message_boxes").c_str());
        request.tick = DWORD(std::strtoul(Field(line, "tick").c_str(), nullptr, 10));
        request.description = Field(line, "description", true);
        requests.push_back(request);
    }
    return requests;
}

std::vector<RecordedStart> RecordedStarts() {
    std::vector<RecordedStart> starts;
    for (const std::string& line : ReadLines(SANDBOX_LOG_DIRECTORY "recorder.log")) {
        // start module=...|directory=...|command=...
        RecordedStart start;
        size_t module = line.find("module="), directory = line.find("|directory="),
               command = line.find("|command=");
        if (module == std::string::npos || directory == std::string::npos ||
            command == std::string::npos)
            continue;
        start.module = line.substr(module + 7, directory - module - 7);
        start.directory = line.substr(directory + 11, command - directory - 11);
        start.command = line.substr(command + 9);
        starts.push_back(start);
    }
    return starts;
}
