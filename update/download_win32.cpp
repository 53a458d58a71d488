#include "update/download.h"

#include "update/download_request.h"
#include "update/messages.h"
#include "update/platform.h"

#include <mmsystem.h>

#include <cstring>

static_assert(CONNECTION_FLAG_PROXY == INTERNET_CONNECTION_PROXY, "WinINet's proxy connection flag");
static_assert(OPEN_TYPE_PRECONFIG == INTERNET_OPEN_TYPE_PRECONFIG, "WinINet's access types");
static_assert(OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY,
              "WinINet's access types");

int32_t DownloadFile(const char* url, uint8_t* destination, uint32_t capacity)
{
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);  // only its proxy flag matters

    char agent[USER_AGENT_SIZE];
    FormatUserAgent(agent, timeGetTime());

    HINTERNET internet = OpenInternet(agent, DownloadAccessType(state));
    if (!internet) {
        ShowBox(TEXT_NOT_CONNECTED, CAPTION_NETWORK, MB_ICONERROR);
        return -1;
    }

    HINTERNET file = InternetOpenUrlA(internet, url, ACCEPT_HEADER, ACCEPT_HEADER_LENGTH, DownloadRequestFlags(url), 0);
    if (!file) {
        InternetCloseHandle(internet);
        ShowBox(TEXT_CANNOT_REACH_SERVER, CAPTION_NETWORK, MB_ICONINFORMATION);
        return -1;
    }

    // The result is a signed count, so no body may exceed INT32_MAX bytes.
    if (capacity > INT32_MAX) capacity = INT32_MAX;

    uint8_t staging[DOWNLOAD_CHUNK];
    uint32_t total = 0;
    int32_t result = -1;
    const wchar_t* failure = nullptr;
    for (;;) {
        DWORD received = 0;
        if (!InternetReadFile(file, staging, DOWNLOAD_CHUNK, &received)) {
            failure = TEXT_READ_FAILED;
            break;
        }
        if (received == 0) {
            result = static_cast<int32_t>(total);
            break;
        }
        // A body longer than the destination is refused, never written past it.
        if (received > capacity - total) {
            failure = TEXT_FILE_TOO_LARGE;
            break;
        }
        std::memcpy(destination + total, staging, received);
        total += received;
    }

    // Both handles are released before any box, so nothing stays open while
    // the user reads it (and the process may end right after).
    InternetCloseHandle(file);
    InternetCloseHandle(internet);
    if (failure) ShowBox(failure, CAPTION_NETWORK, MB_ICONINFORMATION);
    return result;
}
