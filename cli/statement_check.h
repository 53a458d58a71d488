#pragma once
// The release-statement check of ruvo-flash, over the same statement code
// as the window: the statement is fetched and checked once per model and
// catalogue for the whole run (several devices share it). Thread-safe;
// portable.
#include <map>
#include <mutex>
#include <vector>

#include "cli/release_check.h"

class CStatementCheck : public CReleaseCheck {
public:
    explicit CStatementCheck(std::vector<ReleaseKey> keys) : m_keys(std::move(keys)) {}

    StatementVerdict CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                  const CatalogueFacts& catalogue, StatementFetch fetch) override;

private:
    std::vector<ReleaseKey> m_keys;
    std::mutex m_mutex;
    // Verdicts by model and catalogue (its length and SHA-256): devices that
    // met different catalogues of one model keep their own.
    std::map<std::string, StatementVerdict> m_verdicts;
};

// A trusted key from its public point (the key id is computed).
bool MakeReleaseKey(const uint8_t (&point)[P256_POINT_LENGTH], ReleaseKey& key);
