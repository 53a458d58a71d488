#pragma once
// A release in a server folder (Door/, Pool/), read as an updater downloads
// it, for the release core (update/release_acceptance.h): the publisher's
// checks accept exactly what a client accepts, in the same order.
#include <cstdint>
#include <string>
#include <vector>

#include "update/release_acceptance.h"
#include "update/server_layout.h"

// Which statement file is read and how it must hold, as a client of that
// format holds it.
struct StatementRule {
    ServerFile file = ServerFile::STATEMENT2;
    uint8_t format = STATEMENT_FORMAT_2;
    int32_t threshold = 1;  // distinct keys whose signatures must verify
    int64_t now = 0;        // seconds since 1970 UTC, against the expiry
};

class CFolderReleaseSource : public CReleaseSource {
public:
    // `doorDir` holds the catalogue and its statement, `poolDir` the
    // images; `keys`: those a statement may be signed with.
    CFolderReleaseSource(const std::string& doorDir, const std::string& poolDir, const std::string& model,
                         std::vector<ReleaseKey> keys, const StatementRule& rule);

    // A catalogue larger than an updater's buffer arrives as NO_BODY; one
    // that cannot be read stops, with Error() saying why.
    uint32_t FetchCatalogue(uint8_t* buffer, uint32_t capacity, bool again, bool* stop) override;
    // A statement that cannot be read is STATEMENT_MALFORMED, with Error()
    // saying why; one that holds is kept.
    int32_t CheckStatement(const CatalogueFacts& catalogue, bool again) override;

    // Pool/<name> in a buffer sized as an updater sizes it for a record of
    // `size` bytes; `length` is NO_BODY when the file is larger, `fileSize`
    // its size in any case. False when it cannot be read (Error() says why).
    bool FetchImage(const char* name, int32_t size, std::vector<uint8_t>* buffer, uint32_t* length, uint64_t* fileSize);

    std::string Path(ServerFile file, const char* name) const;
    std::string StatementPath() const { return Path(m_rule.file, m_model.c_str()); }
    const std::string& Error() const { return m_error; }
    const ReleaseStatement& Statement() const { return m_statement; }
    const std::vector<uint8_t>& StatementBytes() const { return m_statementBytes; }

private:
    std::string m_doorDir, m_poolDir;
    std::string m_model;
    std::vector<ReleaseKey> m_keys;
    StatementRule m_rule;
    std::string m_error;
    ReleaseStatement m_statement{};
    std::vector<uint8_t> m_statementBytes;
};
