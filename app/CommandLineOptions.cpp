#include "app/CommandLineOptions.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool EndsWord(char c) {
    return c == '\0' || IsBlank(c);
}

// ASCII letters folded by hand: the options are ASCII, whatever the code page.
bool StartsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        char c = *text >= 'A' && *text <= 'Z' ? char(*text - 'A' + 'a') : *text;
        if (c != *prefix)
            return false;
    }
    return true;
}

bool IsQuietWord(const char* word) {
    return StartsWithIgnoringCase(word, "/quiet") && EndsWord(word[6]);
}

bool IsNoScheduleWord(const char* word) {
    return StartsWithIgnoringCase(word, "/noschedule") && EndsWord(word[11]);
}

bool IsAllUsersWord(const char* word) {
    return StartsWithIgnoringCase(word, "/allusers") && EndsWord(word[9]);
}

// "/atlogon" and "/logontry" without "=N" are those options without their try, malformed too.
bool IsTryWord(const char* word, const char* name, size_t length) {
    return StartsWithIgnoringCase(word, name) && (word[length] == '=' || EndsWord(word[length]));
}

bool IsAtLogonWord(const char* word) {
    return IsTryWord(word, "/atlogon", 8);
}

bool IsLogonTryWord(const char* word) {
    return IsTryWord(word, "/logontry", 9);
}

// "/log" alone is the log option without its path, which is malformed, not unknown.
bool IsLogWord(const char* word) {
    return StartsWithIgnoringCase(word, "/log") && (word[4] == '=' || EndsWord(word[4]));
}

bool IsScopeWord(const char* word) {
    return StartsWithIgnoringCase(word, "/scope") && (word[6] == '=' || EndsWord(word[6]));
}

const char* WordEnd(const char* word) {
    while (!EndsWord(*word))
        ++word;
    return word;
}

struct Parser {
    CommandLineOptions& options;

    // Only the first problem is kept; the words after it are still read for a log path.
    void Problem(const char* why, const char* word, const char* end) {
        if (options.problem != nullptr)
            return;
        options.problem = why;
        options.problemWord = {word, size_t(end - word)};
    }

    // Reads /log=PATH at word; returns where the word ends.
    const char* LogOption(const char* word) {
        const char* p = word + 4;
        if (*p != '=') {
            Problem("/log needs a path: /log=PATH", word, p);
            return p;
        }
        ++p;
        TailText path;
        const char* end;
        if (*p == '"') {
            const char* close = p + 1;
            while (*close != '\0' && *close != '"')
                ++close;
            if (*close != '"') {
                Problem("the quoted /log path has no closing quote", word, close);
                return close;
            }
            path = {p + 1, size_t(close - p - 1)};
            end = close + 1;
            if (!EndsWord(*end)) {
                end = WordEnd(end);
                Problem("text follows the closing quote of the /log path", word, end);
                return end;
            }
        } else {
            end = WordEnd(p);
            path = {p, size_t(end - p)};
            for (const char* c = p; c != end; ++c) {
                if (*c == '"') {
                    Problem("a quote inside an unquoted /log path", word, end);
                    return end;
                }
            }
        }
        if (path.Empty())
            Problem("/log= has an empty path", word, end);
        else if (!options.logPath.Empty())
            Problem("/log is given twice", word, end);
        else
            options.logPath = path;
        return end;
    }

    // Reads /scope=VALUE at word; returns where the word ends.
    const char* ScopeOption(const char* word) {
        const char* end = WordEnd(word);
        const char* value = word + 7;
        RunScope scope;
        if (word[6] != '=') {
            Problem("/scope needs a part: /scope=machine or /scope=user", word, end);
            return end;
        }
        if (StartsWithIgnoringCase(value, "machine") && value + 7 == end)
            scope = RunScope::Machine;
        else if (StartsWithIgnoringCase(value, "user") && value + 4 == end)
            scope = RunScope::User;
        else {
            Problem("/scope takes machine or user", word, end);
            return end;
        }
        if (options.scopeGiven)
            Problem("/scope is given twice", word, end);
        options.scopeGiven = true;
        options.scope = scope;
        return end;
    }

    // Reads /atlogon=N or /logontry=N (name length bytes long) into tryNumber; returns where the
    // word ends.
    const char* TryOption(const char* word, size_t length, int& tryNumber) {
        const char* end = WordEnd(word);
        const char* value = word + length + 1;
        if (word[length] != '=' || end != value + 1 || *value < '1' || *value > '9')
            Problem("a logon's try is one digit from 1 to 9: /atlogon=N, /logontry=N", word, end);
        else if (tryNumber != 0)
            Problem("a logon's try is given twice", word, end);
        else
            tryNumber = *value - '0';
        return end;
    }

    void Run(const char* p) {
        for (;;) {
            while (IsBlank(*p))
                ++p;
            if (*p == '%') {
                options.installDirectory = p + 1;
                if (p[1] == '\0')
                    Problem("no installation directory after \"%\"", p, p + 1);
                return;
            }
            if (*p == '\0') {
                Problem("no \"%\" and installation directory after the options", p, p);
                return;
            }
            if (IsQuietWord(p)) {
                if (options.quiet)
                    Problem("/quiet is given twice", p, p + 6);
                options.quiet = true;
                p += 6;
            } else if (IsNoScheduleWord(p)) {
                if (options.noSchedule)
                    Problem("/noschedule is given twice", p, p + 11);
                options.noSchedule = true;
                p += 11;
            } else if (IsAllUsersWord(p)) {
                if (options.allUsers)
                    Problem("/allusers is given twice", p, p + 9);
                options.allUsers = true;
                p += 9;
            } else if (IsAtLogonWord(p)) {
                p = TryOption(p, 8, options.atLogon);
            } else if (IsLogonTryWord(p)) {
                p = TryOption(p, 9, options.logonTry);
            } else if (IsLogWord(p)) {
                p = LogOption(p);
            } else if (IsScopeWord(p)) {
                p = ScopeOption(p);
            } else {
                const char* end = WordEnd(p);
                Problem("unknown option", p, end);
                p = end;
            }
        }
    }
};

} // namespace

CommandLineOptions ParseCommandLineTail(const char* tail) {
    CommandLineOptions options;
    if (tail[0] == '\0') {
        options.action = TailAction::LaunchCompanion;
    } else if (tail[0] == '%') {
        options.action = TailAction::Uninstall;
        options.installDirectory = tail + 1;
    } else if (IsQuietWord(tail) || IsLogWord(tail) || IsScopeWord(tail) ||
               IsNoScheduleWord(tail) || IsAllUsersWord(tail) || IsAtLogonWord(tail) ||
               IsLogonTryWord(tail)) {
        Parser parser{options};
        parser.Run(tail);
        // A part alone is for unattended runs: a person always removes both, and is told of a
        // file in use.
        if (options.scopeGiven && !options.quiet)
            parser.Problem("/scope goes only with /quiet", tail, tail);
        if (options.noSchedule && !options.quiet)
            parser.Problem("/noschedule goes only with /quiet", tail, tail);
        // Registering for every user is part of the machine's removal, and needs its rights.
        if (options.allUsers && (!options.quiet || options.scope == RunScope::User))
            parser.Problem("/allusers goes only with /quiet, in a run of the machine's part", tail,
                           tail);
        bool atLogon = options.atLogon != 0 || options.logonTry != 0;
        if (atLogon && (!options.quiet || !options.scopeGiven || options.scope != RunScope::User ||
                        options.allUsers || (options.atLogon != 0 && options.logonTry != 0)))
            parser.Problem("/atlogon and /logontry go alone with /quiet /scope=user", tail, tail);
        options.action = options.problem == nullptr ? TailAction::Uninstall : TailAction::Malformed;
    }
    return options;
}
