#include "removal/Removal.h"

#include "app/CommandLine.h"
#include "removal/TraceReport.h"

#include <cstring>

namespace {

// "X:" names the current directory of drive X, not its root: never a directory to remove, and
// so not one acted on or reported.
bool RemoveDirectoryUnlessBareDrive(const char* directory, bool productTrace) {
    if (directory[0] != '\0' && directory[1] == ':' && directory[2] == '\0')
        return false;
    BOOL removed = RemoveDirectoryA(directory);
    ReportTrace(Trace::Directory, nullptr, directory, nullptr, removed ? 0 : GetLastError(),
                productTrace);
    return removed != FALSE;
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
    char path[MAX_PATH];
    if (!InstalledFilePath(directory, fileName, path)) {
        ReportTrace(Trace::File, nullptr, directory, fileName, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    BOOL deleted = DeleteFileA(path);
    ReportTrace(Trace::File, nullptr, directory, fileName, deleted ? 0 : GetLastError());
    return deleted != FALSE;
}

bool RemoveProgramFiles(const char* installDirectory) {
    size_t length = std::strlen(installDirectory);
    // An empty directory would name files in whatever the current directory is, and a
    // longer one does not fit the paths: in both cases nothing is touched.
    if (length == 0 || length > MaxInstallDirectoryLength) {
        ReportTrace(Trace::Directory, nullptr, installDirectory, nullptr,
                    length == 0 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    DeleteInstalledFile(installDirectory, "Plendrax.chm");
    DeleteInstalledFile(installDirectory, "UninstallPX.doc");
    DeleteInstalledFile(installDirectory, "pad_file.xml");
    bool exeDeleted = DeleteInstalledFile(installDirectory, "Plendrax.exe");
    bool setupDeleted = DeleteInstalledFile(installDirectory, "Setup.exe");

    char directory[MAX_PATH];
    std::memcpy(directory, installDirectory, length + 1);
    if (directory[length - 1] == '\\' || directory[length - 1] == '/')
        directory[length - 1] = '\0';
    bool directoryRemoved = RemoveDirectoryUnlessBareDrive(directory, true);

    // The directory above goes only when nothing else is left in it.
    if (char* separator = LastSeparator(directory)) {
        *separator = '\0';
        RemoveDirectoryUnlessBareDrive(directory, false);
    }
    return exeDeleted && setupDeleted && directoryRemoved;
}
