#pragma once
// The WinINet download loop without any user interface: it fetches one URL
// into a bounded buffer and returns what happened. DownloadFile shows the
// program's boxes on top of it; the console updater turns the same result
// into its messages and exit codes.
#include <windows.h>
#include <wininet.h>

#include <cstdint>

enum class DownloadFault {
    NONE,
    NO_INTERNET,  // the Internet handle cannot be opened
    NO_SERVER,    // the URL cannot be opened (server unreachable, request impossible)
    READ_FAILED,  // a read failed part-way; earlier chunks stay in the destination
    TOO_LARGE,    // the body does not fit the destination; nothing past it was written
    INTERRUPTED,  // the caller's stop hook asked to end
    TIMED_OUT,    // the caller's total deadline passed; earlier chunks stay in the destination
};

struct DownloadOutcome {
    DownloadFault failure;
    int32_t length;   // body bytes, or -1 on any failure
    DWORD lastError;  // GetLastError() at the failure, 0 without one
};

struct DownloadHooks {
    // Opens the Internet handle (the program's goes through its test seam;
    // the console's also sets its time-outs on it).
    HINTERNET (*openInternet)(const char* userAgent, DWORD accessType);
    // Asked between chunks; null: never stop.
    bool (*stopRequested)();
    // The whole download's bound in milliseconds (update/download_deadline.h),
    // 0 for none. With one, each read takes only what has arrived and the
    // bound is checked between reads; the receive time-out on the Internet
    // handle bounds a wait for the next byte.
    uint64_t deadlineMs = 0;
    // Redirects followed at most, each opened here and never from https to
    // anything else; -1 leaves redirects to the system, as the program's
    // default build does.
    int maxRedirects = -1;
};

// The longest URL followed, the server's redirect targets included.
constexpr size_t DOWNLOAD_URL_SIZE = 2048;

// Both handles are closed before it returns, on every path.
DownloadOutcome FetchUrl(const char* url, uint8_t* destination, uint32_t capacity, const DownloadHooks& hooks);
