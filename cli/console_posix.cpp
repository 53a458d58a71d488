#include "cli/console.h"

#include <signal.h>
#include <unistd.h>

#include "cli/download_curl.h"

namespace {

std::atomic<int>* g_interrupts = nullptr;

// The first Ctrl-C lets the current image finish, the second stops after the
// report in flight. write() is all a handler may use to say so.
void OnInterrupt(int)
{
    const int count = ++*g_interrupts;
    static const char FIRST[] = "\nruvo-flash: interrupted; finishing the current image (Ctrl-C again stops now)\n";
    static const char SECOND[] = "\nruvo-flash: stopping after the current report\n";
    if (count == 1)
        (void)!write(STDERR_FILENO, FIRST, sizeof FIRST - 1);
    else if (count == 2)
        (void)!write(STDERR_FILENO, SECOND, sizeof SECOND - 1);
}

}  // namespace

void InstallInterruptHandler(std::atomic<int>& interrupts)
{
    g_interrupts = &interrupts;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a prompt's read returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StdinIsTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

bool InitialiseConsole()
{
    return InitialiseCurl();
}

std::unique_ptr<CDownloader> MakeDownloader(const std::atomic<int>* stop, const DownloadDeadline& deadline)
{
    CurlBounds bounds;
    bounds.deadline = deadline;
    return std::make_unique<CCurlDownloader>(stop, bounds);
}
