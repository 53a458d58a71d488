#pragma once
// CDownloader over libcurl: a fresh copy from the origin server, bounded by
// the caller's buffer, with a connect bound, a stall bound and a total
// deadline (update/download_deadline.h); https checks
// the certificate against the system's CA store, and its redirects stay on
// https.
#include <atomic>

#include "cli/downloader.h"
#include "update/download_deadline.h"

struct CurlBounds {
    long connectSeconds = 10;   // to establish the connection
    long stallSeconds = 15;     // no byte at all for this long ends the transfer
    DownloadDeadline deadline;  // the whole file, by the most it may hold
};

class CCurlDownloader : public CDownloader {
public:
    // `stop` (optional) is polled during the transfer; non-zero ends it.
    explicit CCurlDownloader(const std::atomic<int>* stop = nullptr, CurlBounds bounds = CurlBounds());
    DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) override;

private:
    const std::atomic<int>* m_stop;
    CurlBounds m_bounds;
};

// The schemes a redirect may lead to: only https from an https URL.
const char* RedirectProtocols(const std::string& url);

// Once per process, before any thread starts.
bool InitialiseCurl();
