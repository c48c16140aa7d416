#pragma once
// The removal log: UTF-8 text appended to one file, one line per event, each with the local
// time to the millisecond and its offset from UTC. Every function here does nothing while no log is
// open, and nothing that goes wrong with the log (not opened, a write refused, a full disk) changes
// the run.
#include <windows.h>

#include "app/CommandLineOptions.h"
#include "app/RunContext.h"
#include "removal/TraceReport.h"

// Opens path (not terminated, length bytes) to append to, creating the file but no directory.
// False, with nothing open, for a path too long for MAX_PATH, one in the device namespace
// ("\\.\", "\\?\"), anything that is not a disk file, a file that has another name (a hard
// link) or is a reparse point, and whatever cannot be opened for writing.
bool OpenRemovalLog(TailText path);
// The log a run writes without /log: UninstallPX.log in %SystemRoot%\Logs for an elevated run
// (a directory only administrators may write to, made when missing), else in the user's
// temporary directory. False when the path does not fit.
bool DefaultLogPath(bool elevated, char (&path)[MAX_PATH]);
bool OpenDefaultRemovalLog(bool elevated);
// Whether the log path names something inside directory (the installation directory), whose
// removal a log there would keep from happening. Case, separators and a trailing separator
// do not matter.
bool LogPathInside(TailText path, const char* directory);
void CloseRemovalLog();
bool RemovalLogOpen();

// One line: formatted (bounded, at most 1,024 characters) from ANSI text.
void LogLine(const char* format, ...);
// One line of a label and any length of ANSI text, e.g. the command line.
void LogText(const char* label, const char* text, size_t length);

// The header of a run: version, kind of run, the whole command line, and who runs it where.
void LogRunHeader(const char* kind, const RunContext& context);
// The reporter the removal stages are given while a log is open.
void LogTrace(Trace trace, HKEY root, const char* location, const char* name, DWORD error,
              TraceFate fate);
// "<what>: failed, error N: <the system's message>"; an HRESULT is written in hexadecimal.
void LogFailure(const char* what, DWORD error, bool hresult = false);
void LogExitCode(int exitCode);

// "error N: <message>" into text (ANSI); "error 0x8XXXXXXX: <message>" for an HRESULT.
void FormatWindowsError(DWORD error, bool hresult, char* text, size_t size);
