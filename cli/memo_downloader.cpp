#include "cli/memo_downloader.h"

#include <algorithm>
#include <chrono>

DownloadResult CMemoDownloader::Download(const std::string& url, uint8_t* destination, size_t capacity)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::shared_ptr<Fetch>& slot = m_fetches[url];
    if (!slot) {
        // This device fetches; the others that need the URL wait for it.
        const std::shared_ptr<Fetch> fetch = slot = std::make_shared<Fetch>();
        lock.unlock();
        const DownloadResult result = m_inner.Download(url, destination, capacity);
        lock.lock();
        fetch->result = result;
        if (result.status == DownloadStatus::OK)
            fetch->body.assign(destination, destination + result.bytes);
        else
            m_fetches.erase(url);
        fetch->done = true;
        m_finished.notify_all();
        return result;
    }
    const std::shared_ptr<Fetch> fetch = slot;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(DownloadDeadlineMs(capacity, m_deadline));
    if (!m_finished.wait_until(lock, deadline, [&] { return fetch->done; }))
        return {DownloadStatus::TIMEOUT, 0, "another device's download of it ran past the deadline"};
    if (fetch->result.status != DownloadStatus::OK) return fetch->result;
    // The capacity still bounds the copy.
    if (fetch->body.size() > capacity) return {DownloadStatus::TOO_LARGE, 0, ""};
    std::copy(fetch->body.begin(), fetch->body.end(), destination);
    return {DownloadStatus::OK, fetch->body.size(), ""};
}
