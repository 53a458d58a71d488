#pragma once
// The About box, dialog 103: program icon, name and version, one OK button.
#include <windows.h>

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
