#include "removal/Removal.h"

#include "app/CommandLine.h"
#include "removal/RestartDeletion.h"
#include "removal/TraceReport.h"

#include <cstring>

namespace {

// In deletion order; the last two count towards the stage's result.
const char* const fileNames[] = {"Plendrax.chm", "UninstallPX.doc", "pad_file.xml", "Plendrax.exe",
                                 "Setup.exe"};
const size_t fileCount = sizeof fileNames / sizeof fileNames[0];

// What a stage that may delete files in use at the next restart knows of the list.
struct AtRestart {
    PendingDeletions pending;
    DWORD loadError = ERROR_SUCCESS;
    bool loaded = false;
    const char* scheduledFiles[fileCount] = {};
    size_t scheduledFileCount = 0;
    long lastFile = -1; // the latest position of a scheduled file in the list
};

// path's deletion at restart, which must come after position after (-1: anywhere), since
// Windows deletes in order and a directory only when empty. Returns its position, -1 when it
// could not be scheduled.
long Defer(AtRestart& restart, Trace trace, const char* location, const char* name,
           const char* path, DWORD inUse, long after, bool productTrace) {
    long position = restart.pending.Find(path);
    if (position > after) {
        ReportTrace(trace, nullptr, location, name, inUse, productTrace,
                    TraceFate::AlreadyScheduled);
        return position;
    }
    // Not there, or too early to be of use: once more, after what it waits for.
    DWORD error = restart.loadError;
    position = restart.loaded ? restart.pending.Schedule(path, error) : -1;
    ReportTrace(trace, nullptr, location, name, position >= 0 ? inUse : error, productTrace,
                position >= 0 ? TraceFate::Scheduled : TraceFate::NotScheduled);
    return position;
}

bool DeleteOrDefer(const char* directory, const char* fileName, AtRestart* restart) {
    char path[MAX_PATH];
    if (!InstalledFilePath(directory, fileName, path)) {
        ReportTrace(Trace::File, nullptr, directory, fileName, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (DeleteFileA(path)) {
        ReportTrace(Trace::File, nullptr, directory, fileName, ERROR_SUCCESS);
        return true;
    }
    DWORD error = GetLastError();
    if (restart == nullptr || !InUse(path, error)) {
        ReportTrace(Trace::File, nullptr, directory, fileName, error);
        return false;
    }
    long position = Defer(*restart, Trace::File, directory, fileName, path, error, -1, true);
    if (position >= 0) {
        restart->scheduledFiles[restart->scheduledFileCount++] = fileName;
        if (position > restart->lastFile)
            restart->lastFile = position;
    }
    return false;
}

// Whether directory holds nothing but entries of the names given (case aside).
bool HoldsOnly(const char* directory, const char* const* names, size_t count) {
    char pattern[MAX_PATH];
    size_t length = std::strlen(directory);
    if (count == 0 || length + sizeof "\\*" > sizeof pattern)
        return false;
    std::memcpy(pattern, directory, length);
    std::memcpy(pattern + length, "\\*", sizeof "\\*");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool only = true;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
            continue;
        bool named = false;
        for (size_t n = 0; n < count && !named; ++n)
            named = lstrcmpiA(found.cFileName, names[n]) == 0;
        only = named;
    } while (only && FindNextFileA(search, &found));
    FindClose(search);
    return only;
}

// Removes directory. With restart, one that only what is scheduled keeps from being empty
// (entries of the names given) is scheduled after position after; position receives its place
// in the list then, else -1. "X:" names the current directory of drive X, not its root: never a
// directory to remove, and so not one acted on or reported.
bool RemoveOrDeferDirectory(const char* directory, bool productTrace, AtRestart* restart,
                            const char* const* names, size_t count, long after, long& position) {
    position = -1;
    if (directory[0] != '\0' && directory[1] == ':' && directory[2] == '\0')
        return false;
    if (RemoveDirectoryA(directory)) {
        ReportTrace(Trace::Directory, nullptr, directory, nullptr, ERROR_SUCCESS, productTrace);
        return true;
    }
    DWORD error = GetLastError();
    bool notEmpty = error == ERROR_DIR_NOT_EMPTY;
    if (restart != nullptr && notEmpty && HoldsOnly(directory, names, count))
        position = Defer(*restart, Trace::Directory, directory, nullptr, directory, error, after,
                         productTrace);
    else
        ReportTrace(Trace::Directory, nullptr, directory, nullptr, error, productTrace,
                    !notEmpty      ? TraceFate::Tried
                    : productTrace ? TraceFate::NotEmpty
                                   : TraceFate::Kept);
    return false;
}

} // namespace

bool InstalledFilePath(const char* directory, const char* fileName, char (&path)[MAX_PATH]) {
    size_t directoryLength = std::strlen(directory);
    size_t nameLength = std::strlen(fileName);
    if (directoryLength + nameLength >= sizeof path)
        return false;
    std::memcpy(path, directory, directoryLength);
    std::memcpy(path + directoryLength, fileName, nameLength + 1);
    return true;
}

bool DeleteInstalledFile(const char* directory, const char* fileName) {
    return DeleteOrDefer(directory, fileName, nullptr);
}

bool RemoveProgramFiles(const char* installDirectory, bool atRestartWhenInUse) {
    size_t length = std::strlen(installDirectory);
    // An empty directory would name files in whatever the current directory is, and a
    // longer one does not fit the paths: in both cases nothing is touched.
    if (length == 0 || length > MaxInstallDirectoryLength) {
        ReportTrace(Trace::Directory, nullptr, installDirectory, nullptr,
                    length == 0 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    AtRestart state;
    AtRestart* restart = nullptr;
    if (atRestartWhenInUse) {
        state.loaded = state.pending.Load(state.loadError);
        restart = &state;
    }

    bool deleted[fileCount];
    for (size_t n = 0; n < fileCount; ++n)
        deleted[n] = DeleteOrDefer(installDirectory, fileNames[n], restart);

    char directory[MAX_PATH];
    std::memcpy(directory, installDirectory, length + 1);
    if (directory[length - 1] == '\\' || directory[length - 1] == '/')
        directory[length - 1] = '\0';
    long position;
    bool directoryRemoved =
        RemoveOrDeferDirectory(directory, true, restart, state.scheduledFiles,
                               state.scheduledFileCount, state.lastFile, position);

    // The directory above goes only when nothing else is left in it, or at restart when only
    // the installation directory, itself going then, is.
    if (char* separator = LastSeparator(directory)) {
        *separator = '\0';
        const char* installName = separator + 1;
        long parentPosition;
        RemoveOrDeferDirectory(directory, false, restart, &installName, position >= 0 ? 1 : 0,
                               position, parentPosition);
    }
    return deleted[3] && deleted[4] && directoryRemoved;
}
