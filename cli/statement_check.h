#pragma once
// The release-statement check of ruvo-flash, over the same statement code
// as the window: the statement is fetched and checked once per model and
// catalogue for the whole run (several devices share it), then every image
// download is held against the statement its device accepted. Thread-safe;
// portable.
#include <map>
#include <mutex>
#include <vector>

#include "cli/release_check.h"

class CStatementCheck : public CReleaseCheck {
public:
    explicit CStatementCheck(std::vector<ReleaseKey> keys) : m_keys(std::move(keys)) {}

    ReleaseVerdict CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                  const CatalogueFacts& catalogue, StatementFetch fetch) override;
    ReleaseVerdict CheckImage(const ReleaseStatement* statement, int32_t entry, const std::string& name,
                              const uint8_t* package, uint32_t length) override;

private:
    std::vector<ReleaseKey> m_keys;
    std::mutex m_mutex;
    // Verdicts by model and catalogue (its length and SHA-256): devices that
    // met different catalogues of one model keep their own.
    std::map<std::string, ReleaseVerdict> m_verdicts;
};

// A trusted key from its public point (the key id is computed).
bool MakeReleaseKey(const uint8_t (&point)[P256_POINT_LENGTH], ReleaseKey& key);
