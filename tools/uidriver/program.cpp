#include "tools/uidriver/program.h"

#include <algorithm>
#include <map>

#include "tools/uidriver/window_reader.h"
#include "tools/uidriver/text.h"

Program::Program() : m_process{} {}

Program::~Program()
{
    Terminate();
    if (m_process.hProcess) {
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }
}

// Names compare without case in a Windows environment.
static std::wstring Upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return towupper(c); });
    return text;
}

static std::wstring EnvironmentBlock(const std::vector<std::wstring>& changes)
{
    std::map<std::wstring, std::wstring> entries;  // upper-case name -> NAME=VALUE
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* entry = own; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1);  // "=C:=C:\" entries start with '='
        entries[Upper(text.substr(0, equals))] = text;
    }
    FreeEnvironmentStringsW(own);
    for (const std::wstring& change : changes) {
        entries[Upper(change.substr(0, change.find(L'=')))] = change;
    }
    std::wstring block;
    for (const auto& entry : entries) {
        block += entry.second;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

bool Program::Start(const std::wstring& exe, const std::vector<std::wstring>& environment, const std::wstring& output,
                    int showCommand, std::string& error)
{
    m_exe = exe;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (showCommand >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showCommand);
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE sink =
        CreateFileW(output.empty() ? L"NUL" : output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (sink == INVALID_HANDLE_VALUE) {
        error = "cannot open the program's output file " + Utf8(output);
        return false;
    }
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = sink;
    startup.hStdError = sink;
    std::wstring commandLine = L"\"" + exe + L"\"";
    std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
    std::wstring block = EnvironmentBlock(environment);
    const BOOL started =
        CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                       folder.empty() ? nullptr : folder.c_str(), &startup, &m_process);
    const DWORD failure = GetLastError();
    CloseHandle(sink);
    if (!started) {
        error = "cannot start " + Utf8(exe) + " (error " + std::to_string(failure) + ")";
        return false;
    }
    return true;
}

struct WindowSearch {
    DWORD processId;
    std::wstring className;  // empty: every class
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectTopLevel(HWND window, LPARAM parameter)
{
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && IsWindowVisible(window) &&
        (search.className.empty() || Upper(ClassOf(window)) == Upper(search.className))) {
        search.found.push_back(window);
    }
    return TRUE;
}

HWND Program::FindWindowOfClass(const std::wstring& className) const
{
    WindowSearch search{m_process.dwProcessId, className, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

std::vector<HWND> Program::Dialogs() const
{
    WindowSearch search{m_process.dwProcessId, L"#32770", {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Program::Windows() const
{
    WindowSearch search{m_process.dwProcessId, L"", {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Program::Running() const
{
    return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::WaitExit(DWORD timeoutMs, DWORD& exitCode) const
{
    if (!m_process.hProcess || WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(m_process.hProcess, &exitCode) != 0;
}

void Program::Terminate()
{
    if (Running()) {
        TerminateProcess(m_process.hProcess, 255);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
}
