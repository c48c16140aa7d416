#pragma once
#include <windows.h>

// What a command-line tail asks for.
enum class TailAction {
    LaunchCompanion, // the empty tail
    Uninstall,       // "%" and the installation directory, options before it or not
    Nothing,         // any other tail, unknown options first included
    Malformed,       // begins with one of our options but is not a well-formed option list
};

// A piece of the tail: not terminated, only valid while the tail is.
struct TailText {
    const char* text = nullptr;
    size_t length = 0;
    bool Empty() const { return length == 0; }
};

// The parts of the removal a run asks for: the machine's (program files, the installed-programs
// entry, the all-users Start menu shortcut) and the user's (Outlook, the settings keys, the
// desktop shortcut).
enum class RunScope { Both, Machine, User };

struct CommandLineOptions {
    TailAction action = TailAction::Nothing;
    bool quiet = false;
    RunScope scope = RunScope::Both; // /scope=machine or /scope=user, only with /quiet
    bool scopeGiven = false;
    // /noschedule, only with /quiet: a file in use is left, not deleted at the next restart.
    bool noSchedule = false;
    // /allusers, only with /quiet and a run that does the machine's part: each user's part also
    // runs at that user's next logon, through an Active Setup component.
    bool allUsers = false;
    // /atlogon=N: the component's stub, which hands the user's part to a process of its own and
    // returns; /logontry=N: that process. N is the logon's try, 1 to 9; only with /quiet and
    // /scope=user. 0 when not given.
    int atLogon = 0;
    int logonTry = 0;
    TailText logPath;                       // /log=PATH, quotes removed; empty when not given
    const char* installDirectory = nullptr; // Uninstall: everything after the "%"
    // Malformed: why (plain English for the log) and the word concerned, when there is one.
    const char* problem = nullptr;
    TailText problemWord;
};

// Options come before the "%", separated by blanks or tabs, each at most once, matched without
// regard to case: /quiet, /log=PATH (PATH in double quotes when it holds blanks),
// /scope=machine|user, /noschedule, /allusers, /atlogon=N and /logontry=N (these with /quiet only).
// A tail that starts with "%" is taken exactly as before: nothing after the "%" is an option.
CommandLineOptions ParseCommandLineTail(const char* tail);
