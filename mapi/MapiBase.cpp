#include "mapi/MapiBase.h"

#include <cstring>

void MapiBase::CheckResult() const {
    if (FAILED(lastResult))
        throw ERR_MAPI_FAILED;
}

BYTE MapiBase::HexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9')
        return BYTE(digit - '0');
    if (digit >= 'A' && digit <= 'Z')
        digit = char(digit - 'A' + 'a');
    if (digit >= 'a' && digit <= 'f')
        return BYTE(digit - 'a' + 10);
    return 0xFF;
}

std::vector<BYTE> MapiBase::HexToBytes(const char* text) {
    size_t length = text ? strlen(text) / 2 : 0;
    std::vector<BYTE> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = BYTE(16 * HexDigitValue(text[2 * i]) + HexDigitValue(text[2 * i + 1]));
    return bytes;
}

BYTE* MapiBase::EntryIdBytes(std::vector<BYTE>& id) {
    static BYTE noBytes[1];
    return id.empty() ? noBytes : id.data();
}
