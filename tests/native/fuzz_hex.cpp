// libFuzzer: HexToBytes over any text. One byte per pair of characters, each as two digit
// values (0xFF for no digit) combined high first.
#include "mapi/MapiBase.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str(); // up to the first zero
    std::vector<BYTE> bytes = MapiBase::HexToBytes(text.c_str());
    if (bytes.size() != text.size() / 2)
        abort();
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::string pair = text.substr(2 * i, 2);
        char* end = nullptr;
        unsigned long value = strtoul(pair.c_str(), &end, 16);
        bool hex = pair.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (hex && bytes[i] != BYTE(value))
            abort();
    }
    return 0;
}
