#pragma once
// What ruvo-flash needs of its platform beyond devices: Ctrl-C, terminals,
// the network back end. console_posix.cpp and console_win32.cpp.
#include <atomic>
#include <memory>

#include "cli/downloader.h"
#include "update/download_deadline.h"

// Each Ctrl-C (and, on Linux, SIGTERM) adds 1 to `interrupts` and says on
// stderr what happens next.
void InstallInterruptHandler(std::atomic<int>& interrupts);

bool StdinIsTerminal();
bool StderrIsTerminal();

// Once, before any download: the network library and, on Windows, UTF-8 output.
bool InitialiseConsole();

// The platform's downloader, bounded like DownloadFile, with connect and
// stall time-outs and each file's total deadline; `stop` non-zero ends a
// transfer.
std::unique_ptr<CDownloader> MakeDownloader(const std::atomic<int>* stop, const DownloadDeadline& deadline);
