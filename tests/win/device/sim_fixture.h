#pragma once
// An in-process simulated device on a pipe of its own, and the test-only
// device list that makes discovery find it.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/simulator/pipe_server.h"

// A pipe name no other test process uses at the same time.
inline std::wstring UniquePipe(const wchar_t* tag)
{
    return L"\\\\.\\pipe\\ruvo-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + tag;
}

inline void SetFakeDevices(const std::wstring& list)
{
    SetEnvironmentVariableW(L"RUVO_FAKE_HID_DEVICES", list.c_str());
}

inline std::wstring Entry(const std::wstring& path, const wchar_t* ids)
{
    return path + L"=" + ids + L";";
}

class SimDevice {
public:
    explicit SimDevice(std::wstring pipePath, const SimulatorOptions& options = SimulatorOptions())
        : path(std::move(pipePath)), device(options)
    {
        PipeServerConfig config;
        config.pipePath = path;
        config.commandLog = [this](const char* line) {
            std::lock_guard<std::mutex> guard(m_logLock);
            m_log.emplace_back(line);
        };
        server = std::make_unique<PipeServer>(device, config);
    }
    bool Start() { return server->Start(); }
    // Client writes complete before the server has acted on them; wait for it.
    bool WaitForLogLines(size_t lines, DWORD timeoutMs = 5000)
    {
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        while (Log().size() < lines) {
            if (GetTickCount64() > end) return false;
            Sleep(1);
        }
        return true;
    }
    std::vector<std::string> Log()
    {
        std::lock_guard<std::mutex> guard(m_logLock);
        return m_log;
    }

    const std::wstring path;
    SimulatedDevice device;
    std::unique_ptr<PipeServer> server;

private:
    std::mutex m_logLock;
    std::vector<std::string> m_log;
};

// Every test here must run on the test-only DLLs next to the test program;
// Wine's own setupapi would enumerate other devices and prove nothing.
inline ::testing::AssertionResult FakesLoaded()
{
    wchar_t exe[MAX_PATH], dll[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    for (const wchar_t* name : {L"hid.dll", L"setupapi.dll"}) {
        HMODULE module = GetModuleHandleW(name);
        if (module == nullptr || GetModuleFileNameW(module, dll, MAX_PATH) == 0)
            return ::testing::AssertionFailure() << "not loaded";
        std::wstring a(exe), b(dll);
        a.resize(a.find_last_of(L'\\'));
        b.resize(b.find_last_of(L'\\'));
        if (_wcsicmp(a.c_str(), b.c_str()) != 0)
            return ::testing::AssertionFailure() << "system DLL in use; run with WINEDLLOVERRIDES=hid,setupapi=n";
    }
    return ::testing::AssertionSuccess();
}
