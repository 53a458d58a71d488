#pragma once
// CDownloader over the program's own WinINet download core: the same
// request, bounded by the caller's buffer, with connect and receive
// time-outs set on the Internet handle.
#include <atomic>

#include "cli/downloader.h"

class CWinInetDownloader : public CDownloader {
public:
    explicit CWinInetDownloader(const std::atomic<int>* stop);
    DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) override;
};
