#pragma once
// CDownloader over the program's own WinINet download core: the same
// request, bounded by the caller's buffer, with connect and receive
// time-outs set on the Internet handle and each file's total deadline.
#include <atomic>

#include "cli/downloader.h"
#include "update/download_deadline.h"

class CWinInetDownloader : public CDownloader {
public:
    CWinInetDownloader(const std::atomic<int>* stop, const DownloadDeadline& deadline);
    DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) override;

private:
    DownloadDeadline m_deadline;
};
