#include "app/RemovalLog.h"

#include "app/CommandLine.h"
#include "app/resources/resource.h"

#include <sddl.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;

const char defaultLogName[] = "UninstallPX.log";

// wvnsprintfA, but the text is terminated whatever the platform does on a cut.
void FormatList(char* text, size_t size, const char* format, va_list arguments) {
    wvnsprintfA(text, int(size), format, arguments);
    text[size - 1] = '\0';
}

void Format(char* text, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatList(text, size, format, arguments);
    va_end(arguments);
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "\\.\PhysicalDrive0", "\\?\GLOBALROOT\...": devices and raw volumes, never a log.
bool IsDeviceNamespace(const char* path) {
    return IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '.' || path[2] == '?') &&
           IsSeparator(path[3]);
}

// ANSI (the product's texts and paths) to UTF-8; empty when it cannot be converted.
std::string ToUtf8(const char* text, size_t length) {
    std::string utf8;
    if (length == 0 || length > 0x7FFFFFF)
        return utf8;
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text, int(length), nullptr, 0);
    if (wideLength <= 0)
        return utf8;
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[wideLength]);
    if (!wide)
        return utf8;
    MultiByteToWideChar(CP_ACP, 0, text, int(length), wide.get(), wideLength);
    int utf8Length =
        WideCharToMultiByte(CP_UTF8, 0, wide.get(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0)
        return utf8;
    utf8.resize(size_t(utf8Length));
    WideCharToMultiByte(CP_UTF8, 0, wide.get(), wideLength, &utf8[0], utf8Length, nullptr, nullptr);
    return utf8;
}

LONGLONG Ticks(const FILETIME& time) {
    return LONGLONG((ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// "2026-12-08 09:30:00.125+01:00 ": local time, and how far it is from UTC, so that the logs of
// a fleet across time zones read as one.
void TimeStamp(char (&stamp)[40]) {
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    SYSTEMTIME now;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &now)) {
        local = utc;
        FileTimeToSystemTime(&utc, &now);
    }
    LONGLONG offset = (Ticks(local) - Ticks(utc)) / 600000000; // minutes
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0)
        offset = -offset;
    Format(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u%c%02u:%02u ", now.wYear,
           now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, sign,
           unsigned(offset / 60), unsigned(offset % 60));
}

// Timestamp, the pieces, CRLF: one write, so that runs appending at once never mix a line.
void WriteLine(const char* label, const char* text, size_t length) {
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    char stamp[40];
    TimeStamp(stamp);
    std::string ansi;
    try {
        ansi = stamp;
        ansi += label;
        ansi.append(text, length);
    } catch (...) {
        return;
    }
    // A line is one line: the line feeds of the product's longer messages become blanks.
    for (char& c : ansi) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    std::string line = ToUtf8(ansi.data(), ansi.size());
    if (line.empty())
        return;
    line += "\r\n";
    DWORD written;
    WriteFile(logFile, line.data(), DWORD(line.size()), &written, nullptr);
}

const char* RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE\\";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER\\";
    return "";
}

} // namespace

bool OpenRemovalLog(TailText path) {
    CloseRemovalLog();
    char name[MAX_PATH];
    if (path.Empty() || path.length >= sizeof name)
        return false;
    std::memcpy(name, path.text, path.length);
    name[path.length] = '\0';
    if (IsDeviceNamespace(name))
        return false;
    // The link itself is opened, not what it points to, so that it can be refused.
    HANDLE file = CreateFileA(name, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // CON, NUL, COM1, pipes: not a log. Nor a second name of another file, which somebody who
    // may create files where the log goes could have planted to have an elevated run append to
    // a file of their choosing.
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        information.nNumberOfLinks > 1 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(file);
        return false;
    }
    logFile = file;
    // A new log starts with the UTF-8 byte order mark, so that every editor reads it as UTF-8.
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0) {
        DWORD written;
        WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr);
    }
    return true;
}

bool DefaultLogPath(bool elevated, char (&path)[MAX_PATH]) {
    // The system's own directory, not the per-user one a terminal server gives GetWindowsDirectory.
    UINT length =
        elevated ? GetSystemWindowsDirectoryA(path, sizeof path) : GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path)
        return false;
    const char* tail = elevated ? "\\Logs\\" : "";
    if (elevated && IsSeparator(path[length - 1]))
        ++tail;
    int written =
        wnsprintfA(path + length, int(sizeof path - length), "%s%s", tail, defaultLogName);
    return written > 0 && length + size_t(written) < sizeof path - 1;
}

bool OpenDefaultRemovalLog(bool elevated) {
    char path[MAX_PATH];
    if (!DefaultLogPath(elevated, path))
        return false;
    if (char* name = elevated ? LastSeparator(path) : nullptr) {
        // Made when missing, writable by the system and administrators only.
        *name = '\0';
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
                "D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;BU)", SDDL_REVISION_1,
                &descriptor, nullptr)) {
            SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
            CreateDirectoryA(path, &attributes);
            LocalFree(descriptor);
        }
        *name = '\\';
    }
    return OpenRemovalLog({path, std::strlen(path)});
}

bool LogPathInside(TailText path, const char* directory) {
    char log[MAX_PATH], given[MAX_PATH], full[MAX_PATH];
    if (path.Empty() || path.length >= sizeof log || directory[0] == '\0')
        return false;
    std::memcpy(log, path.text, path.length);
    log[path.length] = '\0';
    DWORD logLength = GetFullPathNameA(log, sizeof full, full, nullptr);
    DWORD length = GetFullPathNameA(directory, sizeof given, given, nullptr);
    if (logLength == 0 || logLength >= sizeof full || length == 0 || length >= sizeof given)
        return false;
    for (char* c = full; *c != '\0'; ++c)
        if (*c == '/')
            *c = '\\';
    for (char* c = given; *c != '\0'; ++c)
        if (*c == '/')
            *c = '\\';
    while (length > 0 && given[length - 1] == '\\')
        given[--length] = '\0';
    if (length == 0 || logLength <= length || full[length] != '\\')
        return false;
    full[length] = '\0';
    return lstrcmpiA(full, given) == 0;
}

void CloseRemovalLog() {
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}

bool RemovalLogOpen() {
    return logFile != INVALID_HANDLE_VALUE;
}

void LogLine(const char* format, ...) {
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    char text[1025];
    va_list arguments;
    va_start(arguments, format);
    FormatList(text, sizeof text, format, arguments);
    va_end(arguments);
    WriteLine("", text, std::strlen(text));
}

void LogText(const char* label, const char* text, size_t length) {
    WriteLine(label, text, length);
}

void LogRunHeader(const char* kind, const RunContext& context) {
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    LogLine("==== Plendrax Uninstall %s: %s ====", PLENDRAX_VERSION_TEXT, kind);
    const char* commandLine = GetCommandLineA();
    LogText("Command line: ", commandLine, std::strlen(commandLine));
    LogLine("Account: %s (%s)%s; %s; session %lu", context.account[0] ? context.account : "unknown",
            context.userSid[0] ? context.userSid : "no SID",
            context.localSystem ? ", the local system account" : "",
            context.elevated ? "elevated" : "not elevated", context.sessionId);
}

void FormatWindowsError(DWORD error, bool hresult, char* text, size_t size) {
    char message[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                  nullptr, error, 0, message, sizeof message, nullptr);
    while (length > 0 && (message[length - 1] == ' ' || message[length - 1] == '\r' ||
                          message[length - 1] == '\n'))
        --length;
    if (length == 0)
        lstrcpynA(message, "no message for this code", sizeof message);
    else
        message[length] = '\0';
    Format(text, size, hresult ? "error 0x%08lX: %s" : "error %lu: %s", error, message);
}

void LogFailure(const char* what, DWORD error, bool hresult) {
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    char reason[600];
    FormatWindowsError(error, hresult, reason, sizeof reason);
    LogLine("%s: failed, %s", what, reason);
}

void LogTrace(Trace trace, HKEY root, const char* location, const char* name, DWORD error,
              TraceFate fate) {
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    if (trace == Trace::Shortcut && location == nullptr) {
        LogLine("Shortcut in the %s folder: the folder could not be found", name ? name : "");
        return;
    }
    char what[700];
    const char* loc = location ? location : "";
    switch (trace) {
    case Trace::File:
    case Trace::Shortcut:
        Format(what, sizeof what, "%s %s%s", trace == Trace::File ? "File" : "Shortcut", loc,
               name ? name : "");
        break;
    case Trace::Directory:
        Format(what, sizeof what, "Directory %s", loc);
        break;
    case Trace::RegistryKey:
        Format(what, sizeof what, "Registry key %s%s", RootName(root), loc);
        break;
    case Trace::RegistryValue:
        Format(what, sizeof what, "Registry value \"%s\" of %s%s", name ? name : "", RootName(root),
               loc);
        break;
    }
    if (fate == TraceFate::Tried && TraceGone(error)) {
        LogLine("%s: %s", what, error == 0 ? "removed" : "not present");
        return;
    }
    char reason[600];
    FormatWindowsError(error, false, reason, sizeof reason);
    // A file in use says how; a directory is in the way only of what is in it.
    char inUse[640] = "";
    if (trace == Trace::File)
        Format(inUse, sizeof inUse, "in use%s (%s), ",
               error == ERROR_ACCESS_DENIED ? ", a running program" : "", reason);
    const char* once = trace == Trace::File ? "" : ", once what is in it is gone";
    switch (fate) {
    case TraceFate::Tried:
        LogLine("%s: failed, %s", what, reason);
        break;
    case TraceFate::Kept:
        LogLine("%s: kept, it is not empty: it goes only with the last of its contents", what);
        break;
    case TraceFate::NotEmpty:
        LogLine("%s: kept, it is not empty: what is in it is not Plendrax's or could not be "
                "removed",
                what);
        break;
    case TraceFate::Scheduled:
        LogLine("%s: %sscheduled for deletion at restart%s", what, inUse, once);
        break;
    case TraceFate::AlreadyScheduled:
        LogLine("%s: %salready scheduled for deletion at restart%s", what, inUse, once);
        break;
    case TraceFate::NotScheduled:
        LogLine("%s: %sscheduling its deletion at restart failed, %s", what,
                trace == Trace::File ? "in use, and " : "", reason);
        break;
    }
}

void LogExitCode(int exitCode) {
    LogLine("Exit code: %d", exitCode);
}
