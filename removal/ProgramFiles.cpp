#include "removal/Removal.h"

#include "app/CommandLine.h"

#include <cstring>

namespace {

// "X:" names the current directory of drive X, not its root: never a directory to remove.
bool RemoveDirectoryUnlessBareDrive(const char* directory) {
    if (directory[0] != '\0' && directory[1] == ':' && directory[2] == '\0')
        return false;
    return RemoveDirectoryA(directory) != FALSE;
}

} // namespace

bool DeleteInstalledFile(const char* directory, const char* fileName) {
    char path[MAX_PATH];
    size_t directoryLength = std::strlen(directory);
    size_t nameLength = std::strlen(fileName);
    if (directoryLength + nameLength >= sizeof path)
        return false;
    std::memcpy(path, directory, directoryLength);
    std::memcpy(path + directoryLength, fileName, nameLength + 1);
    return DeleteFileA(path) != FALSE;
}

bool RemoveProgramFiles(const char* installDirectory) {
    size_t length = std::strlen(installDirectory);
    // An empty directory would name files in whatever the current directory is, and a
    // longer one does not fit the paths: in both cases nothing is touched.
    if (length == 0 || length > MaxInstallDirectoryLength)
        return false;

    DeleteInstalledFile(installDirectory, "Plendrax.chm");
    DeleteInstalledFile(installDirectory, "UninstallPX.doc");
    DeleteInstalledFile(installDirectory, "pad_file.xml");
    bool exeDeleted = DeleteInstalledFile(installDirectory, "Plendrax.exe");
    bool setupDeleted = DeleteInstalledFile(installDirectory, "Setup.exe");

    char directory[MAX_PATH];
    std::memcpy(directory, installDirectory, length + 1);
    if (directory[length - 1] == '\\' || directory[length - 1] == '/')
        directory[length - 1] = '\0';
    bool directoryRemoved = RemoveDirectoryUnlessBareDrive(directory);

    if (char* separator = LastSeparator(directory)) {
        *separator = '\0';
        RemoveDirectoryUnlessBareDrive(directory);
    }
    return exeDeleted && setupDeleted && directoryRemoved;
}
