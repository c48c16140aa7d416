#pragma once
// The error values raised inside the MAPI layer and the wrappers' common base.
#include <windows.h>

#include <vector>

// Raised by value; every catch treats them alike. None leaves the MAPI layer.
enum ERROR_CODE {
    ERR_MAPI_FAILED = 13,
    ERR_WRONG_OBJECT_TYPE = 14,
    ERR_NOT_INITIALISED = 15,
};

class MapiBase {
  public:
    HRESULT lastResult;

    // Raises ERR_MAPI_FAILED for a failure code; warnings (positive codes) pass.
    void CheckResult() const;

    // Two hex digits a byte, high digit first; an odd last digit is dropped and a character
    // that is no hex digit counts as 0xFF.
    static std::vector<BYTE> HexToBytes(const char* text);
    static BYTE HexDigitValue(char digit);
    // The decoded bytes as MAPI takes them. An id of no bytes still points at valid memory:
    // MAPI reads a null entry id as "the store's root folder", which is not the id given.
    static BYTE* EntryIdBytes(std::vector<BYTE>& id);
};
