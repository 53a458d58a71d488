#include "cli/console.h"

#include <windows.h>

#include <io.h>

#include <cstdio>

#include "cli/download_wininet.h"

namespace {

std::atomic<int>* g_interrupts = nullptr;

void Say(const char* text, DWORD length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
}

// Runs on a thread of its own; the same two levels as on Linux.
BOOL WINAPI OnControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const int count = ++*g_interrupts;
    static const char FIRST[] = "\r\nruvo-flash: interrupted; finishing the current image (Ctrl-C again stops now)\r\n";
    static const char SECOND[] = "\r\nruvo-flash: stopping after the current report\r\n";
    if (count == 1)
        Say(FIRST, sizeof FIRST - 1);
    else if (count == 2)
        Say(SECOND, sizeof SECOND - 1);
    return TRUE;
}

}  // namespace

void InstallInterruptHandler(std::atomic<int>& interrupts)
{
    g_interrupts = &interrupts;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

bool StdinIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

bool StderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

bool InitialiseConsole()
{
    // Option lines are UTF-8 on every stream.
    SetConsoleOutputCP(CP_UTF8);
    return true;
}

std::unique_ptr<CDownloader> MakeDownloader(const std::atomic<int>* stop, const DownloadDeadline& deadline)
{
    return std::make_unique<CWinInetDownloader>(stop, deadline);
}
