#include "cli/downloader.h"

const char* DownloadStatusName(DownloadStatus status)
{
    switch (status) {
    case DownloadStatus::OK:
        return "ok";
    case DownloadStatus::CONNECT:
        return "connect";
    case DownloadStatus::TLS:
        return "tls";
    case DownloadStatus::TIMEOUT:
        return "timeout";
    case DownloadStatus::READ:
        return "read";
    case DownloadStatus::REDIRECT:
        return "redirect";
    case DownloadStatus::TOO_LARGE:
        return "too-large";
    case DownloadStatus::INTERRUPTED:
        return "interrupted";
    case DownloadStatus::OTHER:
        break;
    }
    return "other";
}
