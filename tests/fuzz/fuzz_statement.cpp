// libFuzzer target: the release statement reader of both formats and the
// whole statement check. Input: the statement itself, in a heap buffer of
// exactly its size. A statement the reader accepts must write back to the
// very same bytes: every field has one place and one spelling.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "update/release_statement.h"

namespace {

void CheckFormat(const std::vector<uint8_t>& bytes, uint8_t format)
{
    const uint8_t* input = bytes.empty() ? nullptr : bytes.data();
    ReleaseStatement statement;
    const int32_t parsed = ParseStatement(input, bytes.size(), format, &statement);
    if (parsed != STATEMENT_OK && parsed != STATEMENT_MALFORMED) abort();
    if (parsed == STATEMENT_OK) {
        if (statement.recordCount < 0 || statement.recordCount > STATEMENT_MAX_RECORDS) abort();
        if (statement.signatureCount < 1 || statement.signatureCount > STATEMENT_MAX_SIGNATURES) abort();
        uint8_t written[STATEMENT_MAX_LENGTH];
        const size_t body = WriteStatementBody(statement, written);
        const size_t length = WriteStatementSignatures(statement, body, written);
        if (length != bytes.size() || std::memcmp(written, input, length) != 0) abort();
    }

    // The check with a trusted key for each signature's id (a point not on
    // the curve, so no signature verifies), a threshold of one and an empty
    // catalogue.
    ReleaseKey keys[STATEMENT_MAX_SIGNATURES] = {};
    size_t keyCount = 0;
    for (; parsed == STATEMENT_OK && keyCount < size_t(statement.signatureCount); ++keyCount)
        std::memcpy(keys[keyCount].keyId, statement.signatures[keyCount].keyId, RELEASE_KEY_ID_LENGTH);
    for (ReleaseKey& key : keys) std::memset(key.point, 0x5A, sizeof key.point);
    uint8_t catalogue[40] = {};
    CatalogueFacts facts{};
    facts.decoded = catalogue;
    facts.capacity = sizeof catalogue;
    const StatementTrust trust = {keys, keyCount, 1, format, 0};
    const int32_t code = CheckStatement(input, bytes.size(), trust, "R100", facts, &statement);
    if (code != (parsed == STATEMENT_OK ? STATEMENT_BAD_SIGNATURE : STATEMENT_MALFORMED)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    CheckFormat(bytes, STATEMENT_FORMAT_2);
    CheckFormat(bytes, STATEMENT_FORMAT_1);
    return 0;
}
