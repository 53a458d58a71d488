#include "update/release_signing.h"

#include "update/release_crypto.h"

void CStatementSigning::HashCatalogue(const uint8_t* bytes, uint32_t length, uint8_t (&sha256)[SHA256_LENGTH]) const
{
    Sha256(bytes, length, sha256);
}

bool CStatementSigning::ImageMatches(int32_t index, const uint8_t* bytes, uint32_t length) const
{
    return m_statement != nullptr && ImageMatchesStatement(*m_statement, index, bytes, length);
}
