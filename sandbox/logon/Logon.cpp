// The sandbox's logon: what Windows does for a user at logon and Wine never does (docs/sandbox.md).
// The Active Setup components' stubs, each waited for, then the user's RunOnce values (waited
// for) and Run values (started). One line per thing it runs, on stdout and in
// C:\sandbox\log\logon.log. Exits 0 when it played the logon, 1 when it could not.
// --job starts the stubs in a job that refuses breakaway, as a logon's job may; --stub-file-away
// moves a stub's program aside while it runs, so that it cannot start that program again.
#include "sandbox/common/Record.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {
// Windows waits for a stub without limit; the sandbox goes on after this, and says so.
const DWORD WaitLimitMs = 240000;
const wchar_t ComponentsKey[] = L"SOFTWARE\\Microsoft\\Active Setup\\Installed Components";
const wchar_t UserComponentsKey[] = L"Software\\Microsoft\\Active Setup\\Installed Components\\";
const wchar_t RunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Key {
    HKEY handle = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (handle != nullptr)
            RegCloseKey(handle);
    }
};

using Version = std::array<unsigned long, 4>;

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size_t(size) : 1, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void Report(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    std::printf("%s\n", line);
    std::fflush(stdout);
    AppendRecord("logon", "%s", line);
}

// A REG_SZ or REG_EXPAND_SZ value, the latter expanded as the logon's environment has it.
bool ReadString(HKEY key, const wchar_t* name, std::wstring& out) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = DWORD((data.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
        ERROR_SUCCESS)
        return false;
    data[bytes / sizeof(wchar_t)] = L'\0';
    out = data.data();
    if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsW(out.c_str(), nullptr, 0);
        std::vector<wchar_t> expanded(needed + 1, L'\0');
        if (needed == 0 || ExpandEnvironmentStringsW(out.c_str(), expanded.data(), needed) > needed)
            return false;
        out = expanded.data();
    }
    return true;
}

// Four numbers with commas between them; missing parts count as 0.
Version ParseVersion(const std::wstring& text) {
    Version version{};
    size_t at = 0;
    for (size_t part = 0; part < version.size(); ++part) {
        version[part] = std::wcstoul(text.c_str() + at, nullptr, 10);
        at = text.find(L',', at);
        if (at == std::wstring::npos)
            break;
        ++at;
    }
    return version;
}

// How the stubs start: in a job that refuses breakaway (none by default), and with their program
// file moved aside while they run, as security software that holds it back would.
HANDLE stubJob = nullptr;
bool stubFileAway = false;

// A job whose processes may not leave it: JOB_OBJECT_LIMIT_BREAKAWAY_OK is not set.
HANDLE LogonJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    if (job != nullptr &&
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// The program a command line starts: its first word, quoted or not.
std::wstring ProgramOf(const std::wstring& command) {
    if (!command.empty() && command[0] == L'"')
        return command.substr(1, command.find(L'"', 1) - 1);
    return command.substr(0, command.find(L' '));
}

// Wine sometimes refuses a start with ERROR_INTERNAL_ERROR on a busy machine; no process is made
// then, so the start is asked for again, a few times.
BOOL StartProcess(wchar_t* line, DWORD flags, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                           &startup, &process))
            return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 5)
            return FALSE;
        Sleep(500);
    }
}

// Starts a command line as stored (no application name) and, when asked, waits for it; a stub
// as the options say. The time runs from CreateProcess to the wait's end. Reports it as
// KIND "NAME": ...
void Run(const char* kind, const std::wstring& name, const std::wstring& command, bool wait,
         bool stub = false) {
    HANDLE job = stub ? stubJob : nullptr;
    std::wstring program = stub && stubFileAway ? ProgramOf(command) : std::wstring();
    std::wstring away = program + L".away";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool suspended = job != nullptr || !program.empty();
    if (!StartProcess(line.data(), suspended ? CREATE_SUSPENDED : 0, process)) {
        Report("%s \"%s\": not started, error %lu", kind, Utf8(name).c_str(), GetLastError());
        return;
    }
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
        Report("%s \"%s\": not started, the job refused it, error %lu", kind, Utf8(name).c_str(),
               GetLastError());
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return;
    }
    bool moved = !program.empty() && MoveFileExW(program.c_str(), away.c_str(), 0);
    if (!program.empty() && !moved)
        Report("%s \"%s\": its program stays in place, error %lu", kind, Utf8(name).c_str(),
               GetLastError());
    if (suspended)
        ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    DWORD waited = wait ? WaitForSingleObject(process.hProcess, WaitLimitMs) : WAIT_TIMEOUT;
    if (moved && !MoveFileExW(away.c_str(), program.c_str(), 0))
        Report("logon: %s cannot be put back, error %lu", Utf8(program).c_str(), GetLastError());
    QueryPerformanceCounter(&end);
    long long ms = (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
    DWORD exitCode = 0;
    if (!wait)
        Report("%s \"%s\": started", kind, Utf8(name).c_str());
    else if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &exitCode))
        Report("%s \"%s\": exit %lu after %lld ms", kind, Utf8(name).c_str(), exitCode, ms);
    else
        Report("%s \"%s\": still running after %lld ms, the logon went on", kind,
               Utf8(name).c_str(), ms);
    CloseHandle(process.hProcess);
}

// Active Setup, as the native registry view holds it: on 64-bit Windows the 64-bit view, which
// the 64-bit logon reads, also for a PE32 build of this program. Microsoft documents none of it;
// administrators' tools treat the WOW6432Node list as run at logon too, which the sandbox leaves
// out (docs/sandbox.md). Returns false on a fault of its own.
bool PlayActiveSetup() {
    Key components;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ComponentsKey, 0, KEY_READ | KEY_WOW64_64KEY,
                                &components.handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS) {
        Report("logon: the components' key cannot be opened, error %ld", status);
        return false;
    }
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(components.handle, index, name, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    bool fine = true;
    for (const std::wstring& component : names) {
        Key machine;
        if (RegOpenKeyExW(components.handle, component.c_str(), 0,
                          KEY_QUERY_VALUE | KEY_WOW64_64KEY, &machine.handle) != ERROR_SUCCESS)
            continue;
        DWORD installed = 1, type = 0, size = sizeof installed;
        if (RegQueryValueExW(machine.handle, L"IsInstalled", nullptr, &type,
                             reinterpret_cast<BYTE*>(&installed), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && installed == 0)
            continue;
        std::wstring stub, text;
        if (!ReadString(machine.handle, L"StubPath", stub) || stub.empty())
            continue;
        bool hasVersion = ReadString(machine.handle, L"Version", text);
        Version version = ParseVersion(hasVersion ? text : L"");
        std::wstring userPath = UserComponentsKey + component;
        Key user;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, userPath.c_str(), 0, KEY_QUERY_VALUE, &user.handle) ==
            ERROR_SUCCESS) {
            std::wstring mine;
            Version own = ParseVersion(ReadString(user.handle, L"Version", mine) ? mine : L"");
            if (!(own < version)) {
                Report("skipped \"%s\": the user's version %lu,%lu,%lu,%lu is not lower",
                       Utf8(component).c_str(), own[0], own[1], own[2], own[3]);
                continue;
            }
        }
        Run("stub", component, stub, true, true);
        Key copy;
        status = RegCreateKeyExW(HKEY_CURRENT_USER, userPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                 nullptr, &copy.handle, nullptr);
        if (status == ERROR_SUCCESS && hasVersion)
            status = RegSetValueExW(copy.handle, L"Version", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(text.c_str()),
                                    DWORD((text.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS) {
            Report("logon: the user's copy of \"%s\" cannot be written, error %ld",
                   Utf8(component).c_str(), status);
            fine = false;
        }
    }
    return fine;
}

// The user's RunOnce (each value removed before its program starts, or after it with a leading
// '!'; waited for, one after another) or Run values (started). HKLM's are left to Wine.
void PlayRunKey(const wchar_t* path, bool once) {
    Key key;
    REGSAM access = once ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &key.handle) != ERROR_SUCCESS)
        return;
    std::vector<std::wstring> names;
    std::vector<wchar_t> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size());
        if (RegEnumValueW(key.handle, index, name.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), length);
    }
    const char* kind = once ? "runonce" : "run";
    for (const std::wstring& value : names) {
        std::wstring command;
        if (!ReadString(key.handle, value.c_str(), command))
            continue;
        bool later = once && !value.empty() && value[0] == L'!';
        LONG removed = once && !later ? RegDeleteValueW(key.handle, value.c_str()) : 0;
        if (removed != ERROR_SUCCESS) {
            // Windows runs a RunOnce value only where the user may remove it.
            Report("%s \"%s\": not started, the value cannot be removed, error %ld", kind,
                   Utf8(value).c_str(), removed);
            continue;
        }
        Run(kind, value, command, once);
        if (later)
            RegDeleteValueW(key.handle, value.c_str());
    }
}

// A PE32 build expands a stub's %ProgramFiles% as the 64-bit logon does; a 32-bit child gets
// its own values from WoW64 all the same.
void TakeNativeProgramFiles() {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        return;
    const wchar_t* pairs[][2] = {{L"ProgramFiles", L"ProgramW6432"},
                                 {L"CommonProgramFiles", L"CommonProgramW6432"}};
    for (const auto& pair : pairs) {
        wchar_t value[MAX_PATH];
        DWORD length = GetEnvironmentVariableW(pair[1], value, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            SetEnvironmentVariableW(pair[0], value);
    }
}
} // namespace

int main(int argc, char** argv) {
    for (int n = 1; n < argc; ++n) {
        if (std::strcmp(argv[n], "--job") == 0 && stubJob == nullptr) {
            stubJob = LogonJob();
            if (stubJob == nullptr) {
                Report("logon: the job for the stubs cannot be made, error %lu", GetLastError());
                return 1;
            }
        } else if (std::strcmp(argv[n], "--stub-file-away") == 0) {
            stubFileAway = true;
        } else {
            Report("logon: unknown option %s", argv[n]);
            return 1;
        }
    }
    TakeNativeProgramFiles();
    bool fine = PlayActiveSetup();
    PlayRunKey(RunOnceKey, true);
    PlayRunKey(RunKey, false);
    if (stubJob != nullptr)
        CloseHandle(stubJob);
    return fine ? 0 : 1;
}
