#pragma once
// A downloader shared by the devices of one run: each URL is fetched once
// (the first caller fetches, later ones get a copy). Devices wait only for
// the URL they need, and never past that download's own deadline: one slow
// file holds up only the devices that need it. Devices that waited on a
// fetch share its failure; failures are not kept, so a device that asks
// later tries again.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/downloader.h"
#include "update/download_deadline.h"

class CMemoDownloader : public CDownloader {
public:
    explicit CMemoDownloader(CDownloader& inner, const DownloadDeadline& deadline = DownloadDeadline())
        : m_inner(inner), m_deadline(deadline) {}
    DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) override;

private:
    struct Fetch {
        bool done = false;
        DownloadResult result{DownloadStatus::OTHER, 0, ""};
        std::vector<uint8_t> body;
    };

    CDownloader& m_inner;
    DownloadDeadline m_deadline;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::map<std::string, std::shared_ptr<Fetch>> m_fetches;
};
