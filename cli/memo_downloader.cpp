#include "cli/memo_downloader.h"

#include <algorithm>

DownloadResult CMemoDownloader::Download(const std::string& url, uint8_t* destination, size_t capacity)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_bodies.find(url);
    if (found == m_bodies.end()) {
        const DownloadResult result = m_inner.Download(url, destination, capacity);
        if (result.status != DownloadStatus::OK) return result;
        found = m_bodies.emplace(url, std::vector<uint8_t>(destination, destination + result.bytes)).first;
        return result;
    }
    // Another device asked for it first; the capacity still bounds the copy.
    const std::vector<uint8_t>& body = found->second;
    if (body.size() > capacity) return {DownloadStatus::TOO_LARGE, 0, ""};
    std::copy(body.begin(), body.end(), destination);
    return {DownloadStatus::OK, body.size(), ""};
}
