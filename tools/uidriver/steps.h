#pragma once
// Runs a step script against the program and writes what it observes to the
// transcript. The step language is described in README.md.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/uidriver/icons.h"
#include "tools/uidriver/program.h"
#include "tools/uidriver/script.h"
#include "tools/uidriver/text.h"
#include "tools/uidriver/window_reader.h"

// The longest wait a step or --timeout may ask for, in seconds, and the
// longest pause, watch or quiet spell, in milliseconds.
constexpr int64_t MAX_WAIT_SECONDS = 24 * 60 * 60;
constexpr int64_t MAX_WAIT_MS = MAX_WAIT_SECONDS * 1000;

struct DriverOptions {
    std::wstring program;                   // the exe to start
    std::vector<std::wstring> environment;  // NAME=VALUE for the program only
    std::wstring programOutput;             // the program's stdout and stderr; empty: discarded
    std::string screenshotFolder;           // Unix folder; empty: screenshots are skipped
    DWORD timeoutMs = 10000;                // default for every wait
};

class StepRunner {
public:
    StepRunner(const DriverOptions& options, Transcript& transcript);

    // Runs every step; stops at the first that fails. True when none failed.
    bool Run(const std::vector<Step>& steps);

private:
    bool Do(const std::vector<std::wstring>& words);
    bool Fail(const std::string& reason);

    // The program's process (steps.cpp).
    bool Start(const std::vector<std::wstring>& args);
    bool WaitExit(const std::vector<std::wstring>& args);
    bool Screenshot(const std::vector<std::wstring>& args);

    // The main window and its controls (control_steps.cpp).
    bool Window(Geometry geometry);
    bool Controls(Geometry geometry);
    bool Control(const std::vector<std::wstring>& args, Geometry geometry);
    bool Text(const std::vector<std::wstring>& args);
    bool WaitText(const std::vector<std::wstring>& args, bool pattern);
    bool WaitChange(const std::vector<std::wstring>& args);
    bool Watch(const std::vector<std::wstring>& args);
    bool WaitEnabled(const std::vector<std::wstring>& args, bool enabled);
    bool List(const std::vector<std::wstring>& args);
    bool WaitLines(const std::vector<std::wstring>& args);
    bool Select(const std::vector<std::wstring>& args);
    bool Click(const std::vector<std::wstring>& args);
    bool Close();
    bool Focus(const std::vector<std::wstring>& args);
    bool Keys(const std::vector<std::wstring>& args);

    // Dialogs and message boxes (dialog_steps.cpp).
    HWND FindDialog();
    bool WaitDialog(const std::vector<std::wstring>& args);
    bool WaitBox(const std::vector<std::wstring>& args);
    bool CloseBox();
    bool NoDialog(const std::vector<std::wstring>& args);
    bool WaitClosed(const std::vector<std::wstring>& args);

    // A whole decimal number of a step (an id, a line, milliseconds) within its range.
    static bool ParseInt(const std::wstring& word, int64_t min, int64_t max, long& value);
    static bool ParseId(const std::wstring& word, long& value);

    bool Started();
    HWND ControlById(const std::wstring& word);
    // The wait in args[index] (seconds), else the default; false after Fail on a bad number.
    bool Timeout(const std::vector<std::wstring>& args, size_t index, DWORD& ms);
    void PrintText(int id, const std::wstring& text);
    std::string OwnerName(HWND window);

    const DriverOptions& m_options;
    Transcript& m_out;
    Program m_program;
    HWND m_main;
    HWND m_dialog;                           // the dialog or message box last waited for
    std::map<int, std::wstring> m_lastText;  // per control id, the text last printed
    std::vector<IconCandidate> m_icons;
};
