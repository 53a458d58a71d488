#pragma once
// The main window: its class, its seven controls, the device poll and the
// window procedure.
#include <windows.h>

// Registers the window class named by g_app.className.
void RegisterMainWindowClass(HINSTANCE instance);

// Creates and shows the main window and its controls and starts the poll
// timer. 1 on success, 0 when the main window could not be created.
int CreateMainWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
