#include "shell/main_window.h"

#include "device/hid_cmd.h"
#include "resources/resource_ids.h"
#include "shell/about_box.h"
#include "shell/app_state.h"
#include "shell/update_threads.h"

// Timer id 0 on the main window; each tick arrives as WM_TIMER.
constexpr UINT_PTR POLL_TIMER = 0;
constexpr UINT POLL_PERIOD_MS = 1000;

constexpr int MAIN_WINDOW_WIDTH = 400;  // outer size, frame and title included
constexpr int MAIN_WINDOW_HEIGHT = 400;
constexpr int TEXT_CAPACITY = 100;  // every string-table text and buffer

static HMENU ControlId(int id)
{
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

// Runs at once with a null parameter. Nobody waits for a worker, so its
// handle is released straight away; the thread itself goes on.
static void StartWorker(LPTHREAD_START_ROUTINE entry)
{
    HANDLE thread = CreateThread(nullptr, 0, entry, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    }
}

void RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = g_app.className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&windowClass);
}

// Laid out like the window's own table: one argument group per line.
// clang-format off
int CreateMainWindow(HINSTANCE instance, int showCommand)
{
    g_app.instance = instance;

    // Centred on the desktop.
    RECT desktop;
    GetClientRect(GetDesktopWindow(), &desktop);
    const int x = (desktop.right - desktop.left) / 2 - MAIN_WINDOW_WIDTH / 2;
    const int y = (desktop.bottom - desktop.top) / 2 - MAIN_WINDOW_HEIGHT / 2;

    // A title bar and a sizing border only: no system menu, so no close box.
    g_app.mainWindow = CreateWindowExW(0, g_app.className, g_app.scratchText,
                                       WS_CAPTION | WS_THICKFRAME,
                                       x, y, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT,
                                       nullptr, nullptr, instance, nullptr);
    if (!g_app.mainWindow) {
        return 0;
    }
    ShowWindow(g_app.mainWindow, showCommand);
    UpdateWindow(g_app.mainWindow);

    // The controls, top to bottom. Each text is loaded just before its control.
    LoadStringW(instance, IDS_DEVICE_GROUP, g_app.scratchText, TEXT_CAPACITY);
    CreateWindowExW(0, L"Button", g_app.scratchText,
                    WS_CHILD | WS_VISIBLE | BS_GROUPBOX,
                    30, 10, 340, 80,
                    g_app.mainWindow, ControlId(ID_DEVICE_GROUP), instance, nullptr);

    wchar_t format[TEXT_CAPACITY];
    LoadStringW(instance, IDS_SEARCHING, format, TEXT_CAPACITY);
    wsprintfW(g_app.scratchText, format, 0);
    g_app.statusText = CreateWindowExW(0, L"STATIC", g_app.scratchText,
                                       WS_CHILD | WS_VISIBLE | SS_CENTER,
                                       60, 40, 280, 40,
                                       g_app.mainWindow, ControlId(ID_STATUS_TEXT), instance, nullptr);

    LoadStringW(instance, IDS_LATEST_GROUP, g_app.scratchText, TEXT_CAPACITY);
    CreateWindowExW(0, L"Button", g_app.scratchText,
                    WS_CHILD | WS_VISIBLE | BS_GROUPBOX,
                    30, 110, 340, 80,
                    g_app.mainWindow, ControlId(ID_LATEST_GROUP), instance, nullptr);

    CreateWindowExW(0, L"STATIC", L"",
                    WS_CHILD | WS_VISIBLE | SS_CENTER,
                    60, 140, 280, 40,
                    g_app.mainWindow, ControlId(ID_LATEST_TEXT), instance, nullptr);

    LoadStringW(instance, IDS_UPDATE_BUTTON, g_app.scratchText, TEXT_CAPACITY);
    g_app.updateButton = CreateWindowExW(0, L"button", g_app.scratchText,
                                         WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                                         100, 210, 200, 50,
                                         g_app.mainWindow, ControlId(ID_UPDATE_BUTTON), instance, nullptr);

    LoadStringW(instance, IDS_EXIT_BUTTON, g_app.scratchText, TEXT_CAPACITY);
    g_app.exitButton = CreateWindowExW(0, L"button", g_app.scratchText,
                                       WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                                       100, 300, 200, 50,
                                       g_app.mainWindow, ControlId(ID_EXIT_BUTTON), instance, nullptr);

    // Identification enables it once the catalogue is listed.
    EnableWindow(g_app.updateButton, FALSE);

    SetTimer(g_app.mainWindow, POLL_TIMER, POLL_PERIOD_MS, nullptr);

    // Lies over the top of control 117; its height includes the dropped-down list.
    g_app.optionList = CreateWindowExW(0, L"ComboBox", L"",
                                       WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_HASSTRINGS,
                                       60, 140, 280, 400,
                                       g_app.mainWindow, ControlId(ID_OPTION_LIST), instance, nullptr);
    return 1;
}
// clang-format on

// One connect attempt per tick. The first success ends polling for good and
// hands the device to identification; the timer is killed first, so from then
// on the workers alone write scratchText and the controls.
static void PollForDevice(HWND window)
{
    if (Connect()) {
        KillTimer(window, POLL_TIMER);
        StartWorker(IdentifyThread);
        return;
    }
    ++g_app.pollCount;
    wchar_t format[TEXT_CAPACITY];
    LoadStringW(g_app.instance, IDS_SEARCHING, format, TEXT_CAPACITY);
    wsprintfW(g_app.scratchText, format, g_app.pollCount);
    SetWindowTextW(g_app.statusText, g_app.scratchText);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        PollForDevice(window);
        return 0;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_ABOUT:
            DialogBoxParamW(g_app.instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDialogProc, 0);
            return 0;
        case ID_UPDATE_BUTTON:
            // Disabled here, before the worker exists, and not only by the
            // worker's first step: until that thread runs, a second click
            // already queued (a double click, a repeated press) would find the
            // button enabled and start a second update on the same device.
            // Disabling on this thread shuts that gap at once; the worker's
            // own disabling then changes nothing. A click message that still
            // reaches the disabled button (one posted to it directly, which
            // Wine turns into a click whatever the button's state) is ignored
            // for the same reason.
            if (!IsWindowEnabled(g_app.updateButton)) return 0;
            EnableWindow(g_app.updateButton, FALSE);
            StartWorker(UpdateThread);
            return 0;
        case ID_EXIT_BUTTON:
            // Disabled during the update; a click that still reaches it then
            // must not end the program in the middle of writing the flash.
            if (!IsWindowEnabled(g_app.exitButton)) return 0;
            DestroyWindow(window);
            return 0;
        }
        break;  // the option list's notifications and anything else

    case WM_PAINT: {
        // Nothing to draw: the class background fills the window.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }

    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
