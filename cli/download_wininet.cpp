#include "cli/download_wininet.h"

#include "update/download_core.h"
#include "update/download_request.h"

namespace {

constexpr DWORD CONNECT_TIMEOUT_MS = 10000;
constexpr DWORD RECEIVE_TIMEOUT_MS = 15000;  // no byte for this long ends the transfer

// The core's hooks are plain functions; one console runs one download at a time.
const std::atomic<int>* g_stop = nullptr;

bool StopRequested()
{
    return g_stop != nullptr && g_stop->load() != 0;
}

HINTERNET OpenBoundedInternet(const char* userAgent, DWORD accessType)
{
    HINTERNET internet = InternetOpenA(userAgent, accessType, nullptr, nullptr, 0);
    if (internet == nullptr) return nullptr;
    DWORD connect = CONNECT_TIMEOUT_MS, receive = RECEIVE_TIMEOUT_MS;
    InternetSetOptionA(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    InternetSetOptionA(internet, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive, sizeof receive);
    return internet;
}

DownloadStatus StatusOf(const DownloadOutcome& outcome)
{
    switch (outcome.failure) {
    case DownloadFault::NONE:
        return DownloadStatus::OK;
    case DownloadFault::TOO_LARGE:
        return DownloadStatus::TOO_LARGE;
    case DownloadFault::INTERRUPTED:
        return DownloadStatus::INTERRUPTED;
    case DownloadFault::TIMED_OUT:
        return DownloadStatus::TIMEOUT;
    case DownloadFault::NO_INTERNET:
        return DownloadStatus::OTHER;
    case DownloadFault::NO_SERVER:
    case DownloadFault::READ_FAILED:
        break;
    }
    switch (outcome.lastError) {
    case ERROR_INTERNET_TIMEOUT:
        return DownloadStatus::TIMEOUT;
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:  // never allowed: no IGNORE_REDIRECT_TO_HTTP flag
    case ERROR_HTTP_REDIRECT_FAILED:
        return DownloadStatus::REDIRECT;
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return DownloadStatus::CONNECT;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return DownloadStatus::TLS;
    default:
        return outcome.failure == DownloadFault::NO_SERVER ? DownloadStatus::CONNECT : DownloadStatus::READ;
    }
}

}  // namespace

CWinInetDownloader::CWinInetDownloader(const std::atomic<int>* stop, const DownloadDeadline& deadline)
    : m_deadline(deadline)
{
    g_stop = stop;
}

DownloadResult CWinInetDownloader::Download(const std::string& url, uint8_t* destination, size_t capacity)
{
    const uint32_t bounded = capacity > UINT32_MAX ? UINT32_MAX : uint32_t(capacity);
    const DownloadOutcome outcome = FetchUrl(url.c_str(), destination, bounded,
                                             {OpenBoundedInternet, StopRequested, DownloadDeadlineMs(capacity, m_deadline),
                                              DOWNLOAD_MAX_REDIRECTS});
    DownloadResult result{StatusOf(outcome), outcome.length > 0 ? size_t(outcome.length) : 0, ""};
    if (result.status != DownloadStatus::OK) result.message = "WinINet error " + std::to_string(outcome.lastError);
    return result;
}
