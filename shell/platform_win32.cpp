#include "shell/platform.h"

#include "shell/app_state.h"

#include <cstdlib>

void* AllocateBuffer(size_t bytes)
{
    return std::malloc(bytes);
}

void ReleaseBuffer(void* buffer)
{
    std::free(buffer);
}

HINTERNET OpenInternet(const char* userAgent, DWORD accessType)
{
    return InternetOpenA(userAgent, accessType, nullptr, nullptr, 0);
}

void ShowBox(const wchar_t* text, const wchar_t* caption, UINT icon)
{
    MessageBoxW(g_app.mainWindow, text, caption, MB_OK | icon);
}

void EndProcess()
{
    ExitProcess(0);
}
