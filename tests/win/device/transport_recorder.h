#pragma once
// Records what the transport does with the device, by replacing this
// program's kernel32 imports (CreateFileW, ReadFile, GetOverlappedResult,
// CancelIo, CancelIoEx, CloseHandle) with recording wrappers: which pipe
// paths it opens, and what it does with the device's handles, in the order
// it happens and on which thread. Each record of the latter is one line
// written at once to standard output, so it survives the process ending
// right after.
#include <windows.h>

#include <string>
#include <vector>

// Replaces CreateFileW only: the pipe paths asked for are recorded, nothing
// is written. False when the import was not found.
bool InstallOpenRecorder();

// Every pipe path the program asked to open since the last call, in order.
std::vector<std::wstring> TakePipePathsOpened();

// Replaces all the imports and writes the lines; call before the device is
// opened. False when one of
// them was not found in the import table.
bool InstallTransportRecorder();

// Records of this thread read "exit: ...", of the marked worker "worker: ...".
void MarkWorkerThread();

// Signalled once a read on the device's read handle is pending.
HANDLE ReadPendingEvent();

// One line of the test's own (e.g. "worker: transfer returned 0").
void Record(const char* line);
