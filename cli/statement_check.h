#pragma once
// The release-statement check of ruvo-flash, over the same statement code
// as the window: the statement is fetched and checked once per model and
// catalogue for the whole run (several devices share it), then every image
// download is held against it. Thread-safe; portable.
#include <map>
#include <mutex>
#include <vector>

#include "cli/release_check.h"

class CStatementCheck : public CReleaseCheck {
public:
    explicit CStatementCheck(std::vector<ReleaseKey> keys) : m_keys(std::move(keys)) {}

    ReleaseVerdict CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                  const CatalogueFacts& catalogue) override;
    ReleaseVerdict CheckImage(const char* modelId, int32_t entry, const std::string& name, const uint8_t* package,
                              uint32_t length) override;

private:
    struct Checked {
        std::string catalogueKey;  // length and SHA-256 of the catalogue it was checked against
        ReleaseVerdict verdict;
        ReleaseStatement statement;  // valid when the verdict accepted it
    };

    std::vector<ReleaseKey> m_keys;
    std::mutex m_mutex;
    std::map<std::string, Checked> m_models;
};

// A trusted key from its public point (the key id is computed).
bool MakeReleaseKey(const uint8_t (&point)[P256_POINT_LENGTH], ReleaseKey& key);
