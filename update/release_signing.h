#pragma once
// The crypto of a signed release for the release core: the catalogue's
// SHA-256 as downloaded, and each image held against the statement accepted
// with it. Only front ends that check statements link it.
#include "update/release_acceptance.h"

class CStatementSigning : public CReleaseSigning {
public:
    // `statement`: the one accepted with the device's catalogue; null (none
    // accepted yet) matches no image.
    explicit CStatementSigning(const ReleaseStatement* statement) : m_statement(statement) {}

    void HashCatalogue(const uint8_t* bytes, uint32_t length, uint8_t (&sha256)[SHA256_LENGTH]) const override;
    bool ImageMatches(int32_t index, const uint8_t* bytes, uint32_t length) const override;

private:
    const ReleaseStatement* m_statement;
};
