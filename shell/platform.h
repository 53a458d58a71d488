#pragma once
// The platform calls of the worker threads whose failures no input can cause.
// RUVO.exe links platform_win32.cpp; Windows tests link a replacement that
// can make them fail and records the boxes, so that every box is proven
// without the shipped exe exposing any switch.
#include <windows.h>
#include <wininet.h>
#include <cstddef>

void* AllocateBuffer(size_t bytes);  // null when the memory is not available
void ReleaseBuffer(void* buffer);
HINTERNET OpenInternet(const char* userAgent, DWORD accessType);

// A modal box owned by the main window; returns when the user closes it.
void ShowBox(const wchar_t* text, const wchar_t* caption, UINT icon);

// Ends the whole process with exit code 0, from whichever thread calls it.
[[noreturn]] void EndProcess();
