#include "cli/statement_check.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "cli/downloader.h"
#include "cli/exit_codes.h"
#include "update/release_acceptance.h"
#include "update/server_layout.h"

namespace {

std::string RefusalCode(int32_t statementCode)
{
    char text[WINDOW_CODE_SIZE];
    FormatWindowCode({ReleaseVerdict::STATEMENT_REFUSED, statementCode}, text);
    return text;
}

std::string CatalogueKey(const CatalogueFacts& catalogue)
{
    std::string key = std::to_string(catalogue.length) + ":";
    key.append(reinterpret_cast<const char*>(catalogue.sha256), SHA256_LENGTH);
    return key;
}

StatementVerdict Refused(int32_t code)
{
    return {EXIT_REFUSED, RefusalCode(code), StatementRefusalText(code), code, nullptr};
}

}  // namespace

std::string StatementRefusalText(int32_t code)
{
    return std::string("the release statement was refused: ") + StatementResultName(code) + ", " +
           StatementResultMeaning(code);
}

bool MakeReleaseKey(const uint8_t (&point)[P256_POINT_LENGTH], ReleaseKey& key)
{
    std::memcpy(key.point, point, P256_POINT_LENGTH);
    return ReleaseKeyId(point, key.keyId);
}

StatementVerdict CStatementCheck::CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                               const CatalogueFacts& catalogue, StatementFetch fetch)
{
    // One check at a time: a later device of the same model and catalogue
    // waits for the first one's verdict rather than fetching again.
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = std::string(modelId) + "/" + CatalogueKey(catalogue);
    const auto found = m_verdicts.find(key);
    if (fetch == StatementFetch::SHARED && found != m_verdicts.end()) return found->second;

    // One byte more than the longest statement, so a longer one is seen whole and refused.
    uint8_t bytes[STATEMENT_MAX_LENGTH + 1] = {};
    const std::string url = ServerPath(baseUrl, ServerFile::STATEMENT2, modelId);
    const DownloadResult got = downloader.Download(url, bytes, sizeof bytes);
    if (got.status == DownloadStatus::INTERRUPTED)
        return {EXIT_INTERRUPTED, "", "interrupted during a download, before any erase; the device is unchanged",
                STATEMENT_MALFORMED, nullptr};
    // As in the window, a failed download leaves no statement (-1); it is
    // still a network failure for the exit code, and not remembered.
    if (got.status != DownloadStatus::OK && got.status != DownloadStatus::TOO_LARGE)
        return {EXIT_NETWORK, RefusalCode(STATEMENT_MALFORMED),
                std::string("network (") + DownloadStatusName(got.status) + "): " + url + ": " + got.message +
                    "; no release statement",
                STATEMENT_MALFORMED, nullptr};

    auto statement = std::make_shared<ReleaseStatement>();
    const StatementTrust trust = {m_keys.data(), m_keys.size(), m_threshold, STATEMENT_FORMAT_2,
                                  static_cast<int64_t>(std::time(nullptr))};
    const int32_t code = got.status == DownloadStatus::OK
                             ? CheckStatement(bytes, got.bytes, trust, modelId, catalogue, statement.get())
                             : STATEMENT_MALFORMED;
    StatementVerdict verdict = code == STATEMENT_OK ? StatementVerdict{} : Refused(code);
    if (code == STATEMENT_OK) verdict.statement = std::move(statement);
    m_verdicts[key] = verdict;
    return verdict;
}
