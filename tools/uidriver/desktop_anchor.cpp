// ruvo-desktop-anchor: keeps the run's Wine desktop open between programs.
//
// The Wine server closes a desktop one second after its last program has
// gone: it unlinks it and asks the desktop's owner (explorer) to quit. A
// program that starts in that moment can find no desktop to make its
// window on, and ends before it ever shows one. A run starts programs one
// after another with gaps of about that length (a server to start, the
// registry to reset), so now and then, on a busy machine, one of them did.
//
// This program is a desktop user that never leaves: one hidden window and
// a message loop, until the run's Wine server goes. It prints "ready" once
// its window exists, that is, once the desktop counts it.
#include <windows.h>

#include <cstdio>

int wmain()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"RuvoDesktopAnchor";
    if (!RegisterClassW(&windowClass)) {
        std::fprintf(stderr, "ruvo-desktop-anchor: cannot register its window class (%lu)\n", GetLastError());
        return 1;
    }
    // Never shown, so no screenshot and no window enumeration by process sees it.
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) {
        std::fprintf(stderr, "ruvo-desktop-anchor: cannot make its window (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}
