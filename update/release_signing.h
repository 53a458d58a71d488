#pragma once
// The crypto and the memory of a signed release for the release core: the
// catalogue's SHA-256 as downloaded, each image held against the statement
// accepted with it, and that statement's release against the newest one
// this client accepted. Only front ends that check statements link it.
#include "update/release_acceptance.h"
#include "update/release_history.h"

class CStatementSigning : public CReleaseSigning {
public:
    // `statement`: the one accepted with the device's catalogue; null (none
    // accepted yet) matches no image. `history` null: the publisher's
    // check, which remembers nothing. `keys`: the trusted set, whose ids
    // name the history's records.
    CStatementSigning(const ReleaseStatement* statement, CReleaseHistory* history, const ReleaseKey* keys,
                      size_t keyCount)
        : m_statement(statement), m_history(history), m_keys(keys), m_keyCount(keyCount)
    {
    }
    // The statement the source accepted, once it has.
    void Hold(const ReleaseStatement* statement) { m_statement = statement; }

    void HashCatalogue(const uint8_t* bytes, uint32_t length, uint8_t (&sha256)[SHA256_LENGTH]) const override;
    bool ImageMatches(int32_t index, const uint8_t* bytes, uint32_t length) const override;
    ReleaseResult CheckHistory(const char* modelId) const override;
    ReleaseResult KeepAccepted(const char* modelId) const override;

private:
    // The stored record of the model; false when the store cannot be read.
    bool ReadStored(const char* modelId, char (&name)[HISTORY_NAME_SIZE], AcceptedRelease* stored) const;
    AcceptedRelease Offered() const;

    const ReleaseStatement* m_statement;
    CReleaseHistory* m_history;
    const ReleaseKey* m_keys;
    size_t m_keyCount;
};
