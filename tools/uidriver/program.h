#pragma once
// The program under test: started with a chosen environment, found by its
// window class, watched until it exits.
#include <windows.h>

#include <string>
#include <vector>

class Program {
public:
    Program();
    ~Program();  // ends the process if it still runs

    // `environment` holds NAME=VALUE entries added to (or replacing those of)
    // the driver's own environment. showCommand < 0: no STARTF_USESHOWWINDOW.
    // `output` receives the program's standard output and error (its
    // diagnostic lines); empty: they are discarded, never mixed into the
    // driver's transcript.
    bool Start(const std::wstring& exe, const std::vector<std::wstring>& environment, const std::wstring& output,
               int showCommand, std::string& error);

    // A visible top-level window of this process with the class.
    HWND FindWindowOfClass(const std::wstring& className) const;
    // Top-level dialog windows (#32770) of this process, visible ones only.
    std::vector<HWND> Dialogs() const;
    // Every visible top-level window of this process.
    std::vector<HWND> Windows() const;

    bool Running() const;
    bool WaitExit(DWORD timeoutMs, DWORD& exitCode) const;
    void Terminate();

    DWORD ProcessId() const { return m_process.dwProcessId; }
    DWORD UiThreadId() const { return m_process.dwThreadId; }  // the first thread runs the loop
    const std::wstring& Exe() const { return m_exe; }

private:
    PROCESS_INFORMATION m_process;
    std::wstring m_exe;
};

// Sleeps in small steps until `done` returns true or the time is up.
template <typename Condition>
bool WaitUntil(DWORD timeoutMs, Condition done)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(10);
    }
}
