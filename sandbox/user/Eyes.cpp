// Hooked into the program under test, it tells which system icon a message box shows:
// icon handles mean nothing outside the process that loaded them.
#include <windows.h>

#include "sandbox/user/Eyes.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK EyesHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
        if (call->message == RegisterWindowMessageA(EYES_QUERY_MESSAGE)) {
            HICON shown = reinterpret_cast<HICON>(SendMessageA(call->hwnd, STM_GETICON, 0, 0));
            struct {
                LPCSTR id;
                INT_PTR flag;
            } const icons[] = {{IDI_HAND, MB_ICONHAND},
                               {IDI_QUESTION, MB_ICONQUESTION},
                               {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                               {IDI_ASTERISK, MB_ICONASTERISK}};
            INT_PTR flag = EYES_NO_ICON;
            for (const auto& icon : icons) {
                if (shown != nullptr && shown == LoadIconA(nullptr, icon.id))
                    flag = icon.flag;
            }
            SetPropA(call->hwnd, EYES_ANSWER_PROPERTY, reinterpret_cast<HANDLE>(flag));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
