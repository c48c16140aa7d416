#pragma once
// What the removal stages did to each trace, told to whoever listens (the removal log). With
// nobody listening a report costs one test of a null pointer.
#include <windows.h>

enum class Trace { File, Directory, RegistryKey, RegistryValue, Shortcut };

// What became of a trace, beyond what its error says.
enum class TraceFate {
    Tried,            // removed (error 0), already gone, or its removal failed with error
    Kept,             // not empty, and goes only with the last of its contents: not the product's
    NotEmpty,         // the product's directory or key, still holding something: left
    Scheduled,        // in use (error says how): scheduled for deletion at the next restart
    AlreadyScheduled, // in use, and an earlier run's deletion at restart still stands for it
    NotScheduled,     // in use, and scheduling its deletion failed with error: left
};

// error: the Windows error code taken right after the call, 0 when the trace was removed.
// File and Shortcut: location + name is the path (name may be null); a Shortcut whose folder
// could not be found has no location and names the folder in name. Directory: location.
// RegistryKey: root and location. RegistryValue: root, location (the key) and name (the value).
using TraceReporter = void (*)(Trace trace, HKEY root, const char* location, const char* name,
                               DWORD error, TraceFate fate);

extern TraceReporter RemovalTraceReporter;

// How many of the product's traces the stages could not remove since the process started. A
// trace that was already gone counts as removed; what goes only with the last of its contents
// (the directory above the installation, the maker's key) is not one of the product's traces.
extern long TracesLeft;
// How many paths are to be deleted at the next restart (scheduled by this run or an earlier
// one): not left, but not gone either.
extern long TracesScheduled;

// The removal's error says that there was nothing left to remove.
inline bool TraceGone(DWORD error) {
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

inline void ReportTrace(Trace trace, HKEY root, const char* location, const char* name, DWORD error,
                        bool productTrace = true, TraceFate fate = TraceFate::Tried) {
    if (fate == TraceFate::Scheduled || fate == TraceFate::AlreadyScheduled)
        ++TracesScheduled;
    else if (fate == TraceFate::NotScheduled ||
             (productTrace && fate != TraceFate::Kept && !TraceGone(error)))
        ++TracesLeft; // a failed scheduling leaves the run unfinished, whoever's trace it was
    if (RemovalTraceReporter != nullptr)
        RemovalTraceReporter(trace, root, location, name, error, fate);
}
