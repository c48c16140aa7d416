// Text between the program's narrow (CP_ACP) strings and automation's BSTRs, and the arrays
// of texts that PropertyAccessor takes.
#include "outlook/Automation.h"

#include <iterator>

void Bstr::Assign(const char* narrow) {
    BSTR converted = NarrowToBstr(narrow);
    SysFreeString(text);
    text = converted;
}

TextArray::TextArray(const char* const* texts, ULONG count) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (array == nullptr)
        RaiseComError(E_OUTOFMEMORY);
    // Owned by the variant from here: its clearing frees the array and every text put in it.
    variant.value.vt = VT_ARRAY | VT_VARIANT;
    variant.value.parray = array;
    VARIANT* elements = nullptr;
    HRESULT result = SafeArrayAccessData(array, reinterpret_cast<void**>(&elements));
    if (FAILED(result))
        RaiseComError(result);
    for (ULONG i = 0; i < count; ++i) {
        BSTR text;
        try {
            text = NarrowToBstr(texts[i]);
        } catch (...) {
            // A locked array cannot be destroyed: let go of it before the variant does.
            SafeArrayUnaccessData(array);
            throw;
        }
        elements[i].vt = VT_BSTR;
        elements[i].bstrVal = text;
    }
    SafeArrayUnaccessData(array);
}

BSTR NarrowToBstr(const char* text) {
    if (text == nullptr)
        text = "";
    // Short texts, every one this program writes, convert in one pass through the stack.
    WCHAR buffer[128];
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, int(std::size(buffer)));
    if (length > 0) {
        BSTR converted = SysAllocStringLen(buffer, UINT(length - 1));
        if (converted == nullptr)
            RaiseComError(E_OUTOFMEMORY);
        return converted;
    }
    length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        RaiseComError(HRESULT_FROM_WIN32(GetLastError()));
    BSTR converted = SysAllocStringLen(nullptr, UINT(length - 1));
    if (converted == nullptr)
        RaiseComError(E_OUTOFMEMORY);
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, converted, length) != length) {
        DWORD error = GetLastError();
        SysFreeString(converted);
        RaiseComError(HRESULT_FROM_WIN32(error));
    }
    return converted;
}

std::optional<std::string> BstrToNarrow(BSTR text) {
    if (text == nullptr)
        return std::nullopt;
    int wideLength = int(SysStringLen(text));
    if (wideLength == 0)
        return std::string();
    // Message classes and ids are short: one pass through the stack, sizing only beyond it.
    char buffer[256];
    int length = WideCharToMultiByte(CP_ACP, 0, text, wideLength, buffer, int(sizeof buffer),
                                     nullptr, nullptr);
    if (length > 0)
        return std::string(buffer, size_t(length));
    length = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        RaiseComError(HRESULT_FROM_WIN32(GetLastError()));
    std::string converted(size_t(length), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, wideLength, &converted[0], length, nullptr, nullptr) !=
        length)
        RaiseComError(HRESULT_FROM_WIN32(GetLastError()));
    return converted;
}
