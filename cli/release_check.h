#pragma once
// The seam for signed releases. When the build has compiled-in keys or
// --key is given, the session hands the check the catalogue (hashed as
// downloaded, after the package check accepted it) and holds every image
// download against the statement the check accepted (update/release_acceptance.h);
// without a check the release is taken as the window takes an unsigned one.
// No option skips a check that is configured.
#include <cstdint>
#include <memory>
#include <string>

#include "update/release_signing.h"
#include "update/release_statement.h"

class CDownloader;

struct StatementVerdict {
    int exitCode = 0;  // 0 accepted; otherwise the exit code of the refusal or failure
    std::string code;  // the window's code, e.g. "0303 -2" or "0404+ 1"
    std::string text;
    int32_t statementCode = STATEMENT_OK;               // of a catalogue's check: what the statement check said
    std::shared_ptr<const ReleaseStatement> statement;  // of a catalogue's check: the accepted statement
};

// A refusal of the statement as the user reads it: its result's name and meaning.
std::string StatementRefusalText(int32_t code);

// How a catalogue's check may use what the run has already learned.
enum class StatementFetch {
    SHARED,  // a verdict reached for the same model and catalogue is reused
    AGAIN,   // the statement is fetched and checked anew
};

class CReleaseCheck {
public:
    virtual ~CReleaseCheck() = default;
    // Fetches Door/<model>.Sig2 under `baseUrl` through `downloader` and
    // checks it against the trusted keys and `catalogue`.
    virtual StatementVerdict CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                          const CatalogueFacts& catalogue, StatementFetch fetch) = 0;
    // The release core's crypto and memory for one device: images held
    // against `statement` (null: none accepted yet), releases against the
    // newest this client accepted.
    virtual CStatementSigning Signing(const ReleaseStatement* statement) const = 0;
    // Where the accepted releases are kept, for messages.
    virtual std::string HistoryPlace() const = 0;
};
