#include "update/download_core.h"

#include "update/download_request.h"

#include <mmsystem.h>

#include <cstring>

static_assert(CONNECTION_FLAG_PROXY == INTERNET_CONNECTION_PROXY, "WinINet's proxy connection flag");
static_assert(OPEN_TYPE_PRECONFIG == INTERNET_OPEN_TYPE_PRECONFIG, "WinINet's access types");
static_assert(OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY,
              "WinINet's access types");

namespace {

bool IsRedirect(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The system follows redirects on its own without a limit (Wine's WinINet
// follows one that points at itself for ever, inside InternetOpenUrl where
// no deadline is looked at). Here each hop is opened by hand: at most
// `maxRedirects` of them, never from https to anything else, and not past
// the deadline. Null with the reason in `*error` when a hop is refused.
HINTERNET OpenFollowingRedirects(HINTERNET internet, const char* url, int maxRedirects, ULONGLONG deadline,
                                 DWORD* error)
{
    const bool secure = std::strncmp(url, "https://", 8) == 0;
    char current[DOWNLOAD_URL_SIZE];
    if (std::strlen(url) >= sizeof current) {
        *error = ERROR_INTERNET_INVALID_URL;
        return nullptr;
    }
    std::strcpy(current, url);
    for (int hops = 0;; ++hops) {
        HINTERNET file = InternetOpenUrlA(internet, current, ACCEPT_HEADER, ACCEPT_HEADER_LENGTH,
                                          DownloadRequestFlags(current) | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
        if (!file) return nullptr;
        DWORD status = 0, size = sizeof status;
        if (!HttpQueryInfoA(file, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
            !IsRedirect(status))
            return file;  // an answer; its status is not examined, as always
        char location[DOWNLOAD_URL_SIZE];
        DWORD length = sizeof location;
        const bool located = HttpQueryInfoA(file, HTTP_QUERY_LOCATION, location, &length, nullptr) != FALSE;
        InternetCloseHandle(file);
        char next[DOWNLOAD_URL_SIZE];
        DWORD nextLength = sizeof next;
        if (!located || !InternetCombineUrlA(current, location, next, &nextLength, ICU_NO_ENCODE)) {
            *error = ERROR_HTTP_REDIRECT_FAILED;
            return nullptr;
        }
        if (secure && std::strncmp(next, "https://", 8) != 0) {
            *error = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
            return nullptr;
        }
        if (hops + 1 > maxRedirects || (deadline != 0 && GetTickCount64() >= deadline)) {
            *error = ERROR_HTTP_REDIRECT_FAILED;
            return nullptr;
        }
        std::strcpy(current, next);
    }
}

}  // namespace

DownloadOutcome FetchUrl(const char* url, uint8_t* destination, uint32_t capacity, const DownloadHooks& hooks)
{
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);  // only its proxy flag matters

    char agent[USER_AGENT_SIZE];
    FormatUserAgent(agent, timeGetTime());

    const ULONGLONG deadline = hooks.deadlineMs != 0 ? GetTickCount64() + hooks.deadlineMs : 0;
    HINTERNET internet = hooks.openInternet(agent, DownloadAccessType(state));
    if (!internet) return {DownloadFault::NO_INTERNET, -1, GetLastError()};

    DWORD openError = 0;
    HINTERNET file = hooks.maxRedirects < 0 ? InternetOpenUrlA(internet, url, ACCEPT_HEADER, ACCEPT_HEADER_LENGTH,
                                                               DownloadRequestFlags(url), 0)
                                            : OpenFollowingRedirects(internet, url, hooks.maxRedirects, deadline,
                                                                     &openError);
    if (!file) {
        const DWORD error = openError != 0 ? openError : GetLastError();
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
