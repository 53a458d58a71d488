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
    // `threshold`: distinct keys of `keys` that must sign; `history`: where
    // accepted releases are remembered, named `historyPlace` in messages.
    CStatementCheck(std::vector<ReleaseKey> keys, int32_t threshold, CReleaseHistory* history,
                    std::string historyPlace)
        : m_keys(std::move(keys)), m_threshold(threshold), m_history(history), m_historyPlace(std::move(historyPlace))
    {
    }

    StatementVerdict CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                  const CatalogueFacts& catalogue, StatementFetch fetch) override;
    CStatementSigning Signing(const ReleaseStatement* statement) const override
    {
        return CStatementSigning(statement, m_history, m_keys.data(), m_keys.size());
    }
    std::string HistoryPlace() const override { return m_historyPlace; }

private:
    std::vector<ReleaseKey> m_keys;
    int32_t m_threshold;
    CReleaseHistory* m_history;
    std::string m_historyPlace;
    std::mutex m_mutex;
    // Verdicts by model and catalogue (its length and SHA-256): devices that
    // met different catalogues of one model keep their own.
    std::map<std::string, StatementVerdict> m_verdicts;
};

// A trusted key from its public point (the key id is computed).
bool MakeReleaseKey(const uint8_t (&point)[P256_POINT_LENGTH], ReleaseKey& key);
