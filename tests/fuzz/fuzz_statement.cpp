// libFuzzer target: the release statement reader and the whole statement
// check. Input: the statement itself, in a heap buffer of exactly its size.
// A statement the reader accepts must write back to the very same bytes:
// every field has one place and one spelling.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "update/release_statement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    const uint8_t* input = bytes.empty() ? nullptr : bytes.data();

    ReleaseStatement statement;
    const int32_t parsed = ParseStatement(input, bytes.size(), &statement);
    if (parsed != STATEMENT_OK && parsed != STATEMENT_MALFORMED) abort();
    if (parsed == STATEMENT_OK) {
        if (statement.recordCount < 0 || statement.recordCount > STATEMENT_MAX_RECORDS) abort();
        uint8_t body[STATEMENT_MAX_LENGTH];
        const size_t length = WriteStatementBody(statement, body);
        if (length + P256_SIGNATURE_LENGTH != size || std::memcmp(body, data, length) != 0) abort();
        if (std::memcmp(statement.signature, data + length, P256_SIGNATURE_LENGTH) != 0) abort();
    }

    // The check with a trusted key of the statement's own id (a point not on
    // the curve, so no signature verifies) and an empty catalogue.
    ReleaseKey key{};
    if (parsed == STATEMENT_OK) std::memcpy(key.keyId, statement.keyId, sizeof key.keyId);
    std::memset(key.point, 0x5A, sizeof key.point);
    uint8_t catalogue[40] = {};
    CatalogueFacts facts{};
    facts.decoded = catalogue;
    facts.capacity = sizeof catalogue;
    const int32_t code = CheckStatement(input, bytes.size(), &key, 1, "R100", facts, &statement);
    if (code != (parsed == STATEMENT_OK ? STATEMENT_BAD_SIGNATURE : STATEMENT_MALFORMED)) abort();
    return 0;
}
