// DownloadFile: the download core with the program's boxes. Every failure is
// shown once, after both handles are released (so nothing stays open while
// the user reads it and the process may end right after), and returns -1.
#include "shell/download.h"

#include "shell/messages.h"
#include "shell/platform.h"
#include "update/download_core.h"
#include "update/download_deadline.h"
#include "update/download_request.h"
#include "update/release_keys.h"

int32_t DownloadFile(const char* url, uint8_t* destination, uint32_t capacity)
{
    // A signed build bounds each download in all, by the most it may hold,
    // as the console updater does: a server that trickles bytes cannot hold
    // the update for days. The default build keeps its unbounded loop.
    // Its redirects are few and stay on https, as the console updater's.
    const uint64_t deadlineMs = SIGNED_RELEASES ? DownloadDeadlineMs(capacity, DownloadDeadline()) : 0;
    const int maxRedirects = SIGNED_RELEASES ? DOWNLOAD_MAX_REDIRECTS : -1;
    const DownloadOutcome outcome =
        FetchUrl(url, destination, capacity, {OpenInternet, nullptr, deadlineMs, maxRedirects});
    switch (outcome.failure) {
    case DownloadFault::NONE:
        break;
    case DownloadFault::NO_INTERNET:
        ShowBox(TEXT_NOT_CONNECTED, CAPTION_NETWORK, MB_ICONERROR);
        break;
    case DownloadFault::NO_SERVER:
        ShowBox(TEXT_CANNOT_REACH_SERVER, CAPTION_NETWORK, MB_ICONINFORMATION);
        break;
    case DownloadFault::READ_FAILED:
    case DownloadFault::TIMED_OUT:    // signed builds: the read ran past the file's deadline
    case DownloadFault::INTERRUPTED:  // the program never asks to stop
        ShowBox(TEXT_READ_FAILED, CAPTION_NETWORK, MB_ICONINFORMATION);
        break;
    case DownloadFault::TOO_LARGE:
        ShowBox(TEXT_FILE_TOO_LARGE, CAPTION_NETWORK, MB_ICONINFORMATION);
        break;
    }
    return outcome.length;
}
