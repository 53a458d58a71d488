#include "update/download_core.h"

#include "update/download_request.h"

#include <mmsystem.h>

#include <cstring>

static_assert(CONNECTION_FLAG_PROXY == INTERNET_CONNECTION_PROXY, "WinINet's proxy connection flag");
static_assert(OPEN_TYPE_PRECONFIG == INTERNET_OPEN_TYPE_PRECONFIG, "WinINet's access types");
static_assert(OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY,
              "WinINet's access types");

DownloadOutcome FetchUrl(const char* url, uint8_t* destination, uint32_t capacity, const DownloadHooks& hooks)
{
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);  // only its proxy flag matters

    char agent[USER_AGENT_SIZE];
    FormatUserAgent(agent, timeGetTime());

    const ULONGLONG deadline = hooks.deadlineMs != 0 ? GetTickCount64() + hooks.deadlineMs : 0;
    HINTERNET internet = hooks.openInternet(agent, DownloadAccessType(state));
    if (!internet) return {DownloadFault::NO_INTERNET, -1, GetLastError()};

    HINTERNET file = InternetOpenUrlA(internet, url, ACCEPT_HEADER, ACCEPT_HEADER_LENGTH, DownloadRequestFlags(url), 0);
    if (!file) {
        const DWORD error = GetLastError();
        InternetCloseHandle(internet);
        return {DownloadFault::NO_SERVER, -1, error};
    }

    // The result is a signed count, so no body may exceed INT32_MAX bytes.
    if (capacity > INT32_MAX) capacity = INT32_MAX;

    uint8_t staging[DOWNLOAD_CHUNK];
    uint32_t total = 0;
    DownloadOutcome outcome{DownloadFault::NONE, -1, 0};
    for (;;) {
        if (hooks.stopRequested != nullptr && hooks.stopRequested()) {
            outcome.failure = DownloadFault::INTERRUPTED;
            break;
        }
        // A server that sends a little now and then never trips a receive
        // time-out; the total deadline ends it.
        if (deadline != 0 && GetTickCount64() >= deadline) {
            outcome.failure = DownloadFault::TIMED_OUT;
            outcome.lastError = ERROR_INTERNET_TIMEOUT;
            break;
        }
        // With a deadline, only what has arrived is read: a read of a whole
        // chunk waits until the chunk is full, so a server that trickles
        // bytes would hold it far past the deadline.
        DWORD wanted = DOWNLOAD_CHUNK;
        if (deadline != 0) {
            DWORD available = 0;
            if (!InternetQueryDataAvailable(file, &available, 0, 0)) {
                outcome.failure = DownloadFault::READ_FAILED;
                outcome.lastError = GetLastError();
                break;
            }
            if (available > 0 && available < wanted) wanted = available;
        }
        DWORD received = 0;
        if (!InternetReadFile(file, staging, wanted, &received)) {
            outcome.failure = DownloadFault::READ_FAILED;
            outcome.lastError = GetLastError();
            break;
        }
        if (received == 0) {
            outcome.length = static_cast<int32_t>(total);
            break;
        }
        // A body longer than the destination is refused, never written past it.
        if (received > capacity - total) {
            outcome.failure = DownloadFault::TOO_LARGE;
            break;
        }
        std::memcpy(destination + total, staging, received);
        total += received;
    }
    InternetCloseHandle(file);
    InternetCloseHandle(internet);
    return outcome;
}
