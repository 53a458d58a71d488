#pragma once
// The two worker threads the shell starts: identification once the device is
// found, the update on each press of the update button.
#include <windows.h>

DWORD WINAPI IdentifyThread(LPVOID parameter);
DWORD WINAPI UpdateThread(LPVOID parameter);
