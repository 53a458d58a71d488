#pragma once
// What a signed client remembers between runs: for each model and each set
// of trusted keys, the newest release it accepted (its serial and the
// SHA-256 of its statement's signed part). A statement whose serial is
// lower is a replay of an older release and is refused; one of the same
// serial must be the same release, since a serial names one release and two
// releases under one serial cannot be ordered. The record is raised only
// once a release is accepted and never lowered; a store that cannot be read
// or written is an error, never an empty history.
#include <cstddef>
#include <cstdint>

#include "update/release_statement.h"

struct AcceptedRelease {
    uint64_t serial;  // 0: nothing accepted yet
    uint8_t signedSha256[SHA256_LENGTH];
};

// The store's name of a model's record under a set of trusted keys,
// "<model>.<16 hex digits>": the first 8 bytes of SHA-256 over the key ids
// in ascending order, so builds that trust other keys keep other records.
constexpr size_t HISTORY_NAME_SIZE = 4 + 1 + 16 + 1;
bool HistoryName(const char* modelId, const ReleaseKey* keys, size_t keyCount, char (&name)[HISTORY_NAME_SIZE]);

// The stored text of a record: "<serial> <64 hex digits>\n".
constexpr size_t HISTORY_TEXT_SIZE = 20 + 1 + 2 * SHA256_LENGTH + 2;
size_t FormatAcceptedRelease(const AcceptedRelease& release, char (&text)[HISTORY_TEXT_SIZE]);
// False for anything but that text (the line end optional): a damaged
// record is an unreadable store, not an empty one.
bool ParseAcceptedRelease(const char* text, size_t length, AcceptedRelease* release);

// STATEMENT_OK when `offered` may follow `stored`, else STATEMENT_SUPERSEDED.
int32_t CompareWithHistory(const AcceptedRelease& stored, const AcceptedRelease& offered);

enum class HistoryRead { FOUND, NONE, UNREADABLE };

// Where the records live: the registry on Windows, files in a folder
// elsewhere (or given). Implementations are safe to call from several
// threads and write atomically.
class CReleaseHistory {
public:
    virtual ~CReleaseHistory() = default;
    virtual HistoryRead Read(const char* name, AcceptedRelease* release) = 0;
    virtual bool Write(const char* name, const AcceptedRelease& release) = 0;
};
