#pragma once
#include <windows.h>

#include <atomic>

// The progress dialog's handle: written once by the window thread, polled by the main thread.
extern std::atomic<HWND> ProgressWindowHandle;
// Set by the window thread when the dialog could not be made, so that nobody waits for it.
extern std::atomic<bool> ProgressWindowFailed;

DWORD WINAPI ProgressWindowThread(LPVOID parameter);
INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void ShowLabel(int controlId);
void EnableLabel(int controlId);
void MarkLabelFailed(int controlId);
