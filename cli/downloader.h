#pragma once
// One HTTP(S) GET into a caller's bounded buffer. Unlike the window's
// DownloadFile, a failure is returned, never shown: the caller decides the
// message and the exit code. As there, the HTTP status is not examined: an
// error page is data, and the package check refuses it.
#include <cstddef>
#include <cstdint>
#include <string>

enum class DownloadStatus {
    OK,
    CONNECT,      // cannot reach the server (refused, unresolved)
    TLS,          // certificate or handshake
    TIMEOUT,      // connect bound or stall bound passed
    READ,         // the body broke off
    REDIRECT,     // a redirect that is not followed: off https, or too many
    TOO_LARGE,    // the body does not fit the buffer; nothing past it was written
    INTERRUPTED,  // the caller asked to stop
    OTHER,
};

struct DownloadResult {
    DownloadStatus status;
    size_t bytes;         // body bytes in the buffer
    std::string message;  // the back end's own words for a failure
};

class CDownloader {
public:
    virtual ~CDownloader() = default;
    virtual DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) = 0;
};

const char* DownloadStatusName(DownloadStatus status);
