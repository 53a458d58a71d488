#pragma once
// A downloader shared by the devices of one run: each URL is fetched once
// (the first caller fetches, later ones wait and get a copy). Failures are
// not kept, so a later device may try again.
#include <map>
#include <mutex>
#include <vector>

#include "cli/downloader.h"

class CMemoDownloader : public CDownloader {
public:
    explicit CMemoDownloader(CDownloader& inner) : m_inner(inner) {}
    DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) override;

private:
    CDownloader& m_inner;
    std::mutex m_mutex;
    std::map<std::string, std::vector<uint8_t>> m_bodies;
};
