// DownloadFile: the download core with the program's boxes. Every failure is
// shown once, after both handles are released (so nothing stays open while
// the user reads it and the process may end right after), and returns -1.
#include "update/download.h"

#include "update/download_core.h"
#include "update/messages.h"
#include "update/platform.h"

int32_t DownloadFile(const char* url, uint8_t* destination, uint32_t capacity)
{
    const DownloadOutcome outcome = FetchUrl(url, destination, capacity, {OpenInternet, nullptr});
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
    case DownloadFault::INTERRUPTED:  // the program never asks to stop
        ShowBox(TEXT_READ_FAILED, CAPTION_NETWORK, MB_ICONINFORMATION);
        break;
    case DownloadFault::TOO_LARGE:
        ShowBox(TEXT_FILE_TOO_LARGE, CAPTION_NETWORK, MB_ICONINFORMATION);
        break;
    }
    return outcome.length;
}
