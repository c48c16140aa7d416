#include "removal/RestartDeletion.h"

#include "app/CommandLine.h"

#include <tlhelp32.h>

#include <cstring>
#include <new>

namespace {

const char sessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char pendingValue[] = "PendingFileRenameOperations";
const char ntPrefix[] = "\\??\\";

// The path as Windows writes it in the list: full, with backslashes.
bool FullPath(const char* path, char (&full)[MAX_PATH]) {
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    return length != 0 && length < sizeof full;
}

} // namespace

bool IsRunningImage(const char* path) {
    char full[MAX_PATH];
    if (!FullPath(path, full))
        return false;
    const char* separator = LastSeparator(full);
    const char* name = separator ? separator + 1 : full;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running;
         more = Process32Next(snapshot, &entry)) {
        const char* exeSeparator = LastSeparator(entry.szExeFile);
        if (lstrcmpiA(exeSeparator ? exeSeparator + 1 : entry.szExeFile, name) != 0)
            continue;
        // Any user's process, of either bitness: its image's name is all that is asked.
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        char image[MAX_PATH];
        DWORD size = sizeof image;
        running =
            QueryFullProcessImageNameA(process, 0, image, &size) && lstrcmpiA(image, full) == 0;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return running;
}

bool InUse(const char* path, DWORD error) {
    // Access is denied for a read-only file and for one the account may not delete as well:
    // only a running image is in use.
    return error == ERROR_SHARING_VIOLATION ||
           (error == ERROR_ACCESS_DENIED && IsRunningImage(path));
}

bool PendingDeletions::Load(DWORD& error) {
    HKEY key;
    error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    // The list may grow between the two reads: a few tries.
    for (int attempt = 0; attempt < 4; ++attempt) {
        error = RegQueryValueExA(key, pendingValue, nullptr, &type, nullptr, &size);
        if (error != ERROR_SUCCESS)
            break;
        // Two zeros beyond what is read end the last string whatever the value holds.
        list_.reset(new (std::nothrow) char[size_t(size) + 2]);
        if (!list_) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        error = RegQueryValueExA(key, pendingValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(list_.get()), &size);
        if (error != ERROR_MORE_DATA)
            break;
    }
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_MULTI_SZ) {
        list_.reset();
        // Nothing pending, or no list that Windows would read.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_SUCCESS)
            return error = ERROR_SUCCESS, true;
        return false;
    }
    list_[size] = list_[size + 1] = '\0';
    size_ = size;
    count_ = 0;
    for (const char* p = list_.get(); p < list_.get() + size_ && *p != '\0'; ++count_) {
        p += std::strlen(p) + 1; // the source
        p += std::strlen(p) + 1; // its target
    }
    return true;
}

long PendingDeletions::Find(const char* path) const {
    char full[MAX_PATH];
    if (!list_ || !FullPath(path, full))
        return -1;
    const char* end = list_.get() + size_;
    long position = 0;
    for (const char* p = list_.get(); p < end && *p != '\0'; ++position) {
        const char* source = p;
        p += std::strlen(p) + 1;
        const char* target = p;
        p += std::strlen(p) + 1;
        if (*target == '\0' && std::strncmp(source, ntPrefix, sizeof ntPrefix - 1) == 0 &&
            lstrcmpiA(source + sizeof ntPrefix - 1, full) == 0)
            return position;
    }
    return -1;
}

long PendingDeletions::Schedule(const char* path, DWORD& error) {
    if (!MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        error = GetLastError();
        return -1;
    }
    error = ERROR_SUCCESS;
    return count_ + added_++;
}
