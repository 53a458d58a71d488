// The device poll's status text, tick by tick, with no device present. The
// ticks are sent by the test, one at a time, so that each count is read
// right after its own tick (the timer is stopped).
#include "resources/resource_ids.h"
#include "shell/app_state.h"
#include "shell/main_window.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

TEST(DevicePoll, StatusTextCountsTheFailedPollsIncludingThisOne)
{
    ASSERT_TRUE(FakesLoaded());
    SetFakeDevices(L"");
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    g_app.instance = instance;
    LoadStringW(instance, IDS_CLASS_NAME, g_app.className, ARRAYSIZE(g_app.className));
    RegisterMainWindowClass(instance);
    ASSERT_EQ(CreateMainWindow(instance, SW_HIDE), 1);
    KillTimer(g_app.mainWindow, 0);

    const wchar_t* const afterTicks[] = {L"尋 找 中.....   0", L"尋 找 中.....   1", L"尋 找 中.....   2"};
    for (int ticks = 0; ticks < 3; ++ticks) {
        if (ticks > 0) SendMessageW(g_app.mainWindow, WM_TIMER, 0, 0);
        wchar_t text[100] = {};
        GetWindowTextW(g_app.statusText, text, ARRAYSIZE(text));
        EXPECT_STREQ(text, afterTicks[ticks]) << ticks << " ticks";
    }
    DestroyWindow(g_app.mainWindow);
}
