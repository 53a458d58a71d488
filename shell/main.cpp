// Process entry: title, window class, main window, then the message loop
// until the leave command (or a close request) destroys the window.
#include <windows.h>

#include "resources/resource_ids.h"
#include "shell/app_state.h"
#include "shell/main_window.h"

// The version shown in the title bar.
constexpr int VERSION_MAJOR = 2;
constexpr int VERSION_MINOR = 2;

// The command line is ignored. The runtime derives showCommand from the
// start-up information: wShowWindow when STARTF_USESHOWWINDOW is set,
// SW_SHOWDEFAULT otherwise.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    wsprintfW(g_app.scratchText, L" RUVO   [%2d.%2d ]", VERSION_MAJOR, VERSION_MINOR);
    LoadStringW(instance, IDS_CLASS_NAME, g_app.className, ARRAYSIZE(g_app.className));
    RegisterMainWindowClass(instance);
    if (!CreateMainWindow(instance, showCommand)) {
        return 0;
    }

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_MAIN));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        // The command goes to the window the keystroke was addressed to: with
        // a child control focused, Alt+? reaches the child and does nothing.
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
