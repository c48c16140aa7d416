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

// "/log" alone is the log option without its path, which is malformed, not unknown.
bool IsLogWord(const char* word) {
    return StartsWithIgnoringCase(word, "/log") && (word[4] == '=' || EndsWord(word[4]));
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
            } else if (IsLogWord(p)) {
                p = LogOption(p);
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
    } else if (IsQuietWord(tail) || IsLogWord(tail)) {
        Parser{options}.Run(tail);
        options.action = options.problem == nullptr ? TailAction::Uninstall : TailAction::Malformed;
    }
    return options;
}
