#pragma once
// Deleting a program file in use at the next restart, as Windows Installer does: the file is
// scheduled with MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT), which needs an
// administrator, and Windows deletes the scheduled paths in their order when it next starts.
#include <windows.h>

#include <memory>

// Why a deletion failed says that the file is in use: a sharing violation, or access denied on
// the image of a running process.
bool InUse(const char* path, DWORD error);
// Whether a running process's image is the file at path.
bool IsRunningImage(const char* path);

// The deletions Windows has pending for the next restart, read once from
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager, value
// PendingFileRenameOperations: pairs of NT paths ("\??\C:\..."), source then target, an empty
// target meaning deletion. Read only: the value is Windows' to change.
class PendingDeletions {
  public:
    // False, with error set, when the value is there but cannot be read.
    bool Load(DWORD& error);
    // The position of path's deletion in the list as loaded (the path compared whole, without
    // regard to case), -1 when it has none.
    long Find(const char* path) const;
    // Schedules path's deletion after everything pending; its position (those scheduled since
    // the load follow the list in their order), or -1 with error set.
    long Schedule(const char* path, DWORD& error);

  private:
    std::unique_ptr<char[]> list_;
    size_t size_ = 0;
    long count_ = 0; // pairs in the list as loaded
    long added_ = 0;
};
