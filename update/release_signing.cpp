#include "update/release_signing.h"

#include <cstring>

#include "update/release_crypto.h"

void CStatementSigning::HashCatalogue(const uint8_t* bytes, uint32_t length, uint8_t (&sha256)[SHA256_LENGTH]) const
{
    Sha256(bytes, length, sha256);
}

bool CStatementSigning::ImageMatches(int32_t index, const uint8_t* bytes, uint32_t length) const
{
    return m_statement != nullptr && ImageMatchesStatement(*m_statement, index, bytes, length);
}

AcceptedRelease CStatementSigning::Offered() const
{
    AcceptedRelease offered{};
    if (m_statement != nullptr) {
        offered.serial = m_statement->serial;
        std::memcpy(offered.signedSha256, m_statement->signedSha256, SHA256_LENGTH);
    }
    return offered;
}

bool CStatementSigning::ReadStored(const char* modelId, char (&name)[HISTORY_NAME_SIZE], AcceptedRelease* stored) const
{
    *stored = AcceptedRelease{};
    if (!HistoryName(modelId, m_keys, m_keyCount, name)) return false;
    return m_history->Read(name, stored) != HistoryRead::UNREADABLE;
}

ReleaseResult CStatementSigning::CheckHistory(const char* modelId) const
{
    if (m_history == nullptr) return {ReleaseVerdict::ACCEPTED, 0};
    char name[HISTORY_NAME_SIZE];
    AcceptedRelease stored;
    if (!ReadStored(modelId, name, &stored)) return {ReleaseVerdict::HISTORY_FAILED, HISTORY_UNREADABLE};
    const int32_t code = CompareWithHistory(stored, Offered());
    if (code != STATEMENT_OK) return {ReleaseVerdict::STATEMENT_REFUSED, code};
    return {ReleaseVerdict::ACCEPTED, 0};
}

ReleaseResult CStatementSigning::KeepAccepted(const char* modelId) const
{
    if (m_history == nullptr) return {ReleaseVerdict::ACCEPTED, 0};
    // Read again: another run may have raised the record meanwhile, and a
    // record is never lowered.
    char name[HISTORY_NAME_SIZE];
    AcceptedRelease stored;
    if (!ReadStored(modelId, name, &stored)) return {ReleaseVerdict::HISTORY_FAILED, HISTORY_UNREADABLE};
    const AcceptedRelease offered = Offered();
    if (offered.serial <= stored.serial) {
        if (CompareWithHistory(stored, offered) != STATEMENT_OK)
            return {ReleaseVerdict::STATEMENT_REFUSED, STATEMENT_SUPERSEDED};
        return {ReleaseVerdict::ACCEPTED, 0};
    }
    if (!m_history->Write(name, offered)) return {ReleaseVerdict::HISTORY_FAILED, HISTORY_UNWRITABLE};
    return {ReleaseVerdict::ACCEPTED, 0};
}
