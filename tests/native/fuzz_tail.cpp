// libFuzzer: CommandLineTail over any bytes, in a single-byte and a double-byte code page. The
// tail is a suffix of the line, starts at no separator byte (1 to 32) and, for a name without
// quotes, right after the name's bytes and its blanks. The option parser then reads the tail:
// everything it points at lies inside the tail, and its answer is consistent.
#include "app/CommandLine.h"
#include "app/CommandLineOptions.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    size_t length = strlen(line.data());
    for (UINT codePage : {1252u, 932u}) {
        const char* tail = CommandLineTail(line.data(), codePage);
        if (tail < line.data() || tail > line.data() + length)
            abort();
        unsigned char first = static_cast<unsigned char>(*tail);
        if (first >= 1 && first <= 32)
            abort();
        if (line[0] != '"') {
            const char* p = line.data();
            while (static_cast<unsigned char>(*p) > ' ')
                ++p;
            while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ')
                ++p;
            if (p != tail)
                abort();
        }
        const char* end = line.data() + length;
        auto inside = [&](const char* text, size_t size) {
            return text >= tail && text <= end && size <= size_t(end - text);
        };
        CommandLineOptions options = ParseCommandLineTail(tail);
        bool uninstall = options.action == TailAction::Uninstall;
        bool malformed = options.action == TailAction::Malformed;
        if ((options.problem != nullptr) != malformed)
            abort();
        if (uninstall && (options.installDirectory == nullptr ||
                          !inside(options.installDirectory, strlen(options.installDirectory)) ||
                          options.installDirectory[-1] != '%'))
            abort();
        if (options.logPath.text != nullptr &&
            !inside(options.logPath.text, options.logPath.length))
            abort();
        if (options.problemWord.text != nullptr &&
            !inside(options.problemWord.text, options.problemWord.length))
            abort();
        if (options.action == TailAction::LaunchCompanion && *tail != '\0')
            abort();
    }
    return 0;
}
