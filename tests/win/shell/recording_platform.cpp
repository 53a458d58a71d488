#include "recording_platform.h"

#include "shell/platform.h"

#include <cstdlib>

RecordingPlatform g_platform;

void* AllocateBuffer(size_t bytes)
{
    g_platform.lastAllocation = bytes;
    if (g_platform.failAllocation || g_platform.allocationsMade >= g_platform.allocationsAllowed) return nullptr;
    void* buffer = std::malloc(bytes);
    if (buffer != nullptr) {
        ++g_platform.allocationsMade;
        ++g_platform.buffersHeld;
    }
    return buffer;
}

void ReleaseBuffer(void* buffer)
{
    if (buffer != nullptr) --g_platform.buffersHeld;
    std::free(buffer);
}

HINTERNET OpenInternet(const char* userAgent, DWORD accessType)
{
    if (g_platform.failInternetOpen) return nullptr;
    return InternetOpenA(userAgent, accessType, nullptr, nullptr, 0);
}

void ShowBox(const wchar_t* text, const wchar_t* caption, UINT icon)
{
    g_platform.boxes.push_back({text, caption, icon});
    if (g_platform.onBox) g_platform.onBox();
}

void EndProcess()
{
    g_platform.processEnded = true;
    ExitThread(0);
}

void RunWorker(LPTHREAD_START_ROUTINE entry)
{
    // Workers change controls owned by this thread, so keep serving messages.
    HANDLE thread = CreateThread(nullptr, 0, entry, nullptr, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    CloseHandle(thread);
}
