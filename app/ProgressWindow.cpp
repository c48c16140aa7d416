#include "app/ProgressWindow.h"

#include "app/Entry.h"
#include "app/resources/resource.h"

std::atomic<HWND> ProgressWindowHandle{nullptr};
std::atomic<bool> ProgressWindowFailed{false};

DWORD WINAPI ProgressWindowThread(LPVOID) {
    // Nothing ends the dialog, so this returns only when it could not be made.
    DialogBoxParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressWindowProc, 0);
    ProgressWindowFailed = true;
    return 0;
}

// Every message, the close commands included, is left to the default dialog processing,
// and nothing calls EndDialog: the window cannot be closed.
INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG)
        ProgressWindowHandle = window;
    return FALSE;
}

void ShowLabel(int controlId) {
    ShowWindow(GetDlgItem(ProgressWindowHandle, controlId), SW_SHOWNA);
}

void EnableLabel(int controlId) {
    EnableWindow(GetDlgItem(ProgressWindowHandle, controlId), TRUE);
}

void MarkLabelFailed(int controlId) {
    char text[50];
    if (LoadStringA(InstanceHandle, IDS_FAILED, text, sizeof text) == 0)
        text[0] = '\0';
    SetWindowTextA(GetDlgItem(ProgressWindowHandle, controlId), text);
    ShowLabel(controlId);
}
