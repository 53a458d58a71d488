#include "cli/download_curl.h"

#include <curl/curl.h>

#include <chrono>
#include <cstring>

#include "update/download_request.h"

namespace {

struct Sink {
    uint8_t* destination;
    size_t capacity;
    size_t used;
    bool overflow;
    const std::atomic<int>* stop;
};

size_t Append(char* data, size_t size, size_t count, void* user)
{
    Sink& sink = *static_cast<Sink*>(user);
    const size_t bytes = size * count;
    if (bytes > sink.capacity - sink.used) {
        sink.overflow = true;
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    std::memcpy(sink.destination + sink.used, data, bytes);
    sink.used += bytes;
    return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const Sink& sink = *static_cast<const Sink*>(user);
    return sink.stop != nullptr && sink.stop->load() != 0 ? 1 : 0;
}

DownloadStatus StatusOf(CURLcode code, const Sink& sink)
{
    switch (code) {
    case CURLE_OK:
        return DownloadStatus::OK;
    case CURLE_WRITE_ERROR:
        return sink.overflow ? DownloadStatus::TOO_LARGE : DownloadStatus::OTHER;
    case CURLE_ABORTED_BY_CALLBACK:
        return DownloadStatus::INTERRUPTED;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return DownloadStatus::CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return DownloadStatus::TIMEOUT;
    case CURLE_UNSUPPORTED_PROTOCOL:  // only a redirect can name one: the URL itself is http or https
    case CURLE_TOO_MANY_REDIRECTS:
        return DownloadStatus::REDIRECT;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return DownloadStatus::TLS;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
        return DownloadStatus::READ;
    default:
        return DownloadStatus::OTHER;
    }
}

}  // namespace

const char* RedirectProtocols(const std::string& url)
{
    return url.compare(0, 8, "https://") == 0 ? "https" : "http,https";
}

bool InitialiseCurl()
{
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

CCurlDownloader::CCurlDownloader(const std::atomic<int>* stop, CurlBounds bounds) : m_stop(stop), m_bounds(bounds) {}

DownloadResult CCurlDownloader::Download(const std::string& url, uint8_t* destination, size_t capacity)
{
    Sink sink{destination, capacity, 0, false, m_stop};
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return {DownloadStatus::OTHER, 0, "cannot start a transfer"};

    // The user agent carries a millisecond clock, as the window's does.
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    char agent[USER_AGENT_SIZE];
    FormatUserAgent(agent, static_cast<uint32_t>(ms));
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    for (const char* line : REQUEST_HEADER_LINES) headers = curl_slist_append(headers, line);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects stay on TLS once it is asked for, and are few. Another host
    // is allowed (mirrors and content networks answer that way): what is
    // fetched is checked by its package check and, on signed releases, its
    // statement, wherever it came from; TLS is what must not be lost.
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, RedirectProtocols(url));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, long(DOWNLOAD_MAX_REDIRECTS));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, m_bounds.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, m_bounds.stallSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(DownloadDeadlineMs(capacity, m_bounds.deadline)));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);

    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    DownloadResult result{StatusOf(code, sink), sink.used, ""};
    if (result.status != DownloadStatus::OK) result.message = error[0] != '\0' ? error : curl_easy_strerror(code);
    return result;
}
