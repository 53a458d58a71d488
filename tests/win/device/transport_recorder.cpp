#include "transport_recorder.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

HANDLE g_readHandle = INVALID_HANDLE_VALUE;
HANDLE g_writeHandle = INVALID_HANDLE_VALUE;
HANDLE g_readEvent = nullptr;  // learnt from the first read's OVERLAPPED record
DWORD g_workerThread = 0;
HANDLE g_readPending = CreateEventW(nullptr, TRUE, FALSE, nullptr);
CRITICAL_SECTION g_lineLock;
bool g_writeLines = false;
std::vector<std::wstring> g_pathsOpened;

decltype(&CreateFileW) g_createFile;
decltype(&ReadFile) g_readFile;
decltype(&GetOverlappedResult) g_overlappedResult;
decltype(&CancelIo) g_cancelIo;
decltype(&CancelIoEx) g_cancelIoEx;
decltype(&CloseHandle) g_closeHandle;

const char* NameOf(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (handle == g_readHandle) return "read handle";
    if (handle == g_writeHandle) return "write handle";
    if (handle == g_readEvent) return "read event";
    return nullptr;
}

void RecordAs(const char* what, const char* name)
{
    char line[128];
    std::snprintf(line, sizeof line, "%s %s", what, name);
    Record(line);
}

HANDLE WINAPI RecordedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile)
{
    const bool pipe = std::wcsncmp(path, L"\\\\.\\pipe\\", 9) == 0;
    if (pipe) g_pathsOpened.push_back(path);
    HANDLE handle = g_createFile(path, access, share, security, disposition, flags, templateFile);
    if (handle != INVALID_HANDLE_VALUE && pipe) {
        if (access == GENERIC_READ) g_readHandle = handle;
        if (access == GENERIC_WRITE) g_writeHandle = handle;
    }
    return handle;
}

BOOL WINAPI RecordedReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped)
{
    const BOOL result = g_readFile(file, buffer, bytes, read, overlapped);
    const DWORD error = GetLastError();
    if (file == g_readHandle && overlapped != nullptr) {
        g_readEvent = overlapped->hEvent;
        if (!result && error == ERROR_IO_PENDING) {
            Record("read pending");
            SetEvent(g_readPending);
        }
    }
    SetLastError(error);
    return result;
}

BOOL WINAPI RecordedOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD moved, BOOL wait)
{
    const BOOL result = g_overlappedResult(file, overlapped, moved, wait);
    const DWORD error = GetLastError();
    if (const char* name = NameOf(file)) {
        char what[64];
        if (result)
            std::snprintf(what, sizeof what, "completed (%lu bytes):", static_cast<unsigned long>(*moved));
        else
            std::snprintf(what, sizeof what, "%s:", error == ERROR_OPERATION_ABORTED ? "aborted" : "failed");
        RecordAs(what, name);
    }
    SetLastError(error);
    return result;
}

BOOL WINAPI RecordedCancelIo(HANDLE file)
{
    const BOOL result = g_cancelIo(file);
    const DWORD error = GetLastError();
    if (const char* name = NameOf(file)) RecordAs(result ? "CancelIo" : "CancelIo (nothing)", name);
    SetLastError(error);
    return result;
}

BOOL WINAPI RecordedCancelIoEx(HANDLE file, LPOVERLAPPED overlapped)
{
    // The line lock is held across the call, so that a read the call aborts
    // is recorded after it, in the order the two happened.
    EnterCriticalSection(&g_lineLock);
    const BOOL result = g_cancelIoEx(file, overlapped);
    const DWORD error = GetLastError();
    if (const char* name = NameOf(file)) RecordAs(result ? "CancelIoEx" : "CancelIoEx (nothing)", name);
    LeaveCriticalSection(&g_lineLock);
    SetLastError(error);
    return result;
}

BOOL WINAPI RecordedCloseHandle(HANDLE handle)
{
    const char* name = NameOf(handle);
    if (name) RecordAs("close", name);
    return g_closeHandle(handle);
}

// Points this program's import of `function` from kernel32 at `replacement`.
bool Replace(const char* function, void* replacement, void** original)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool found = false;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name; ++dll) {
        if (_stricmp(reinterpret_cast<char*>(base + dll->Name), "kernel32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            *original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), protection, &protection);
            found = true;
        }
    }
    return found;
}

template <typename Function>
bool Replace(const char* function, Function replacement, Function* original)
{
    return Replace(function, reinterpret_cast<void*>(replacement), reinterpret_cast<void**>(original));
}

}  // namespace

bool InstallOpenRecorder()
{
    return Replace("CreateFileW", &RecordedCreateFile, &g_createFile);
}

std::vector<std::wstring> TakePipePathsOpened()
{
    std::vector<std::wstring> paths;
    paths.swap(g_pathsOpened);
    return paths;
}

bool InstallTransportRecorder()
{
    InitializeCriticalSection(&g_lineLock);
    g_writeLines = true;
    // The program may use either cancel call, or both.
    const bool cancelIo = Replace("CancelIo", &RecordedCancelIo, &g_cancelIo);
    const bool cancelIoEx = Replace("CancelIoEx", &RecordedCancelIoEx, &g_cancelIoEx);
    return Replace("CreateFileW", &RecordedCreateFile, &g_createFile) &&
           Replace("ReadFile", &RecordedReadFile, &g_readFile) &&
           Replace("GetOverlappedResult", &RecordedOverlappedResult, &g_overlappedResult) &&
           Replace("CloseHandle", &RecordedCloseHandle, &g_closeHandle) && (cancelIo || cancelIoEx);
}

void MarkWorkerThread()
{
    g_workerThread = GetCurrentThreadId();
}

HANDLE ReadPendingEvent()
{
    return g_readPending;
}

void Record(const char* line)
{
    if (!g_writeLines) return;
    char text[160];
    const int length =
        std::snprintf(text, sizeof text, "%s: %s\n", GetCurrentThreadId() == g_workerThread ? "worker" : "exit", line);
    EnterCriticalSection(&g_lineLock);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
    LeaveCriticalSection(&g_lineLock);
}
