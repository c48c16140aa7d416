// libFuzzer: CommandLineTail over any bytes, in a single-byte and a double-byte code page. The
// tail is a suffix of the line, starts at no separator byte (1 to 32) and, for a name without
// quotes, right after the name's bytes and its blanks.
#include "app/CommandLine.h"

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
    }
    return 0;
}
