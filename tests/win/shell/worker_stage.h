#pragma once
// The stage the worker threads run on in-process: the recording platform,
// the program's record zeroed with the controls the workers use, and (for
// the tests that reach the device) an in-process simulated device found and
// opened as the program finds it.
#include "recording_platform.h"
#include "sim_fixture.h"

#include "device/hid_cmd.h"
#include "shell/app_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// The window's controls as the workers find them: the exit button and the
// option list hidden pop-ups; the update button is `updateButton` (a
// recorder of its texts) or a plain one.
inline void SetUpWorkerControls(HWND updateButton = nullptr)
{
    g_platform = RecordingPlatform();
    std::memset(&g_app, 0, sizeof g_app);
    g_app.instance = GetModuleHandleW(nullptr);  // the strings are in the test's own resources
    g_app.updateButton = updateButton != nullptr ? updateButton
                                                 : CreateWindowExW(0, L"button", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                                                   nullptr, nullptr, nullptr);
    g_app.exitButton = CreateWindowExW(0, L"button", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    g_app.optionList = CreateWindowExW(0, L"ComboBox", L"", WS_POPUP | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0, 0, 100,
                                       100, nullptr, nullptr, nullptr, nullptr);
}

// A simulated device on a pipe of its own, connected as the program connects.
inline void ConnectSimulatedDevice(const wchar_t* pipeName, std::unique_ptr<SimDevice>& sim,
                                   const SimulatorOptions& options = SimulatorOptions())
{
    ASSERT_TRUE(FakesLoaded());
    sim = std::make_unique<SimDevice>(UniquePipe(pipeName), options);
    ASSERT_TRUE(sim->Start());
    SetFakeDevices(Entry(sim->path, L"0416:F362"));
    ASSERT_EQ(Connect(), 1);
}
