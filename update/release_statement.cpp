// Reading, writing and checking release statements.
#include "update/release_statement.h"

#include <cstring>

#include "common/bytes.h"
#include "update/result_text.h"

namespace {

constexpr ResultText STATEMENT_RESULT_TEXTS[] = {
    {STATEMENT_OK, "STATEMENT_OK", "the statement is signed by a trusted key and matches the catalogue"},
    {STATEMENT_MALFORMED, "STATEMENT_MALFORMED",
     "not a release statement: wrong size, tag, version or field (a missing file arrives as the server's answer)"},
    {STATEMENT_BAD_SIGNATURE, "STATEMENT_BAD_SIGNATURE",
     "no trusted key has the statement's key id, or the signature does not verify"},
    {STATEMENT_OTHER_MODEL, "STATEMENT_OTHER_MODEL", "the statement is for another model"},
    {STATEMENT_OTHER_CATALOGUE, "STATEMENT_OTHER_CATALOGUE", "the catalogue's length or SHA-256 differs"},
    {STATEMENT_OTHER_RECORDS, "STATEMENT_OTHER_RECORDS",
     "the catalogue's records (count, names or sizes) differ from the statement's"},
};

// Field offsets, as in the layout in the header.
constexpr size_t AT_VERSION = 4;
constexpr size_t AT_COUNT = 5;
constexpr size_t AT_RESERVED = 6;
constexpr size_t AT_KEY_ID = 8;
constexpr size_t AT_MODEL = 16;
constexpr size_t AT_CATALOGUE_LENGTH = 20;
constexpr size_t AT_CATALOGUE_SHA256 = 24;
constexpr size_t AT_RECORD_SIZE = STATEMENT_NAME_FIELD;
constexpr size_t AT_RECORD_SHA256 = STATEMENT_NAME_FIELD + 4;
static_assert(AT_CATALOGUE_SHA256 + SHA256_LENGTH == STATEMENT_HEADER_LENGTH, "records follow the header");
static_assert(AT_RECORD_SHA256 + SHA256_LENGTH == STATEMENT_RECORD_LENGTH, "record fields fill the record");
static_assert(STATEMENT_MAX_LENGTH == 664, "the documented limit");

// A name field holds the name, then NULs only: one spelling per statement.
bool ReadNameField(const uint8_t* field, char (&name)[STATEMENT_NAME_FIELD])
{
    const void* end = std::memchr(field, 0, STATEMENT_NAME_FIELD);
    if (!end) return false;
    const size_t used = static_cast<size_t>(static_cast<const uint8_t*>(end) - field);
    for (size_t i = used; i < STATEMENT_NAME_FIELD; ++i) {
        if (field[i] != 0) return false;
    }
    std::memcpy(name, field, STATEMENT_NAME_FIELD);
    return true;
}

bool SameRecords(const ReleaseStatement& statement, const CatalogueFacts& catalogue)
{
    CatalogueWalk walk;
    if (WalkCatalogue(catalogue.decoded, catalogue.capacity, &walk) != CATALOGUE_OK) return false;
    if (walk.count != statement.recordCount) return false;
    for (int32_t i = 0; i < walk.count; ++i) {
        const StatementRecord& record = statement.records[i];
        if (std::strcmp(walk.entries[i].name, record.name) != 0) return false;
        if (walk.entries[i].size < 0 || static_cast<uint32_t>(walk.entries[i].size) != record.size) return false;
    }
    return true;
}

}  // namespace

const char* StatementResultName(int32_t code)
{
    const ResultText* text = FindResultText(STATEMENT_RESULT_TEXTS, code);
    return text ? text->name : "STATEMENT_UNKNOWN";
}

const char* StatementResultMeaning(int32_t code)
{
    const ResultText* text = FindResultText(STATEMENT_RESULT_TEXTS, code);
    return text ? text->meaning : "not a statement check result";
}

bool ReleaseKeyId(const uint8_t (&point)[P256_POINT_LENGTH], uint8_t (&keyId)[RELEASE_KEY_ID_LENGTH])
{
    uint8_t digest[SHA256_LENGTH];
    if (!Sha256(point, sizeof point, digest)) return false;
    std::memcpy(keyId, digest, sizeof keyId);
    return true;
}

int32_t ParseStatement(const uint8_t* bytes, size_t length, ReleaseStatement* statement)
{
    std::memset(statement, 0, sizeof *statement);
    if (bytes == nullptr || length < STATEMENT_MIN_LENGTH || length > STATEMENT_MAX_LENGTH) {
        return STATEMENT_MALFORMED;
    }
    if (std::memcmp(bytes, STATEMENT_TAG, sizeof STATEMENT_TAG) != 0) return STATEMENT_MALFORMED;
    if (bytes[AT_VERSION] != STATEMENT_VERSION) return STATEMENT_MALFORMED;
    if (bytes[AT_RESERVED] != 0 || bytes[AT_RESERVED + 1] != 0) return STATEMENT_MALFORMED;
    const size_t count = bytes[AT_COUNT];
    if (count > STATEMENT_MAX_RECORDS) return STATEMENT_MALFORMED;
    if (length != STATEMENT_MIN_LENGTH + count * STATEMENT_RECORD_LENGTH) return STATEMENT_MALFORMED;
    if (std::memchr(bytes + AT_MODEL, 0, 4) != nullptr) return STATEMENT_MALFORMED;

    std::memcpy(statement->keyId, bytes + AT_KEY_ID, RELEASE_KEY_ID_LENGTH);
    std::memcpy(statement->modelId, bytes + AT_MODEL, 4);
    statement->catalogueLength = ReadBigEndian32(bytes + AT_CATALOGUE_LENGTH);
    std::memcpy(statement->catalogueSha256, bytes + AT_CATALOGUE_SHA256, SHA256_LENGTH);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* at = bytes + STATEMENT_HEADER_LENGTH + i * STATEMENT_RECORD_LENGTH;
        StatementRecord& record = statement->records[i];
        if (!ReadNameField(at, record.name)) {
            std::memset(statement, 0, sizeof *statement);
            return STATEMENT_MALFORMED;
        }
        record.size = ReadBigEndian32(at + AT_RECORD_SIZE);
        std::memcpy(record.sha256, at + AT_RECORD_SHA256, SHA256_LENGTH);
    }
    statement->recordCount = static_cast<int32_t>(count);
    std::memcpy(statement->signature, bytes + length - P256_SIGNATURE_LENGTH, P256_SIGNATURE_LENGTH);
    return STATEMENT_OK;
}

size_t WriteStatementBody(const ReleaseStatement& statement, uint8_t (&out)[STATEMENT_MAX_LENGTH])
{
    if (statement.recordCount < 0 || statement.recordCount > STATEMENT_MAX_RECORDS) return 0;
    std::memset(out, 0, sizeof out);
    std::memcpy(out, STATEMENT_TAG, sizeof STATEMENT_TAG);
    out[AT_VERSION] = STATEMENT_VERSION;
    out[AT_COUNT] = static_cast<uint8_t>(statement.recordCount);
    std::memcpy(out + AT_KEY_ID, statement.keyId, RELEASE_KEY_ID_LENGTH);
    std::memcpy(out + AT_MODEL, statement.modelId, 4);
    WriteBigEndian32(out + AT_CATALOGUE_LENGTH, statement.catalogueLength);
    std::memcpy(out + AT_CATALOGUE_SHA256, statement.catalogueSha256, SHA256_LENGTH);
    for (int32_t i = 0; i < statement.recordCount; ++i) {
        const StatementRecord& record = statement.records[i];
        const size_t nameLength = strnlen(record.name, STATEMENT_NAME_FIELD);
        if (nameLength >= STATEMENT_NAME_FIELD) return 0;
        uint8_t* at = out + STATEMENT_HEADER_LENGTH + i * STATEMENT_RECORD_LENGTH;
        std::memcpy(at, record.name, nameLength);
        WriteBigEndian32(at + AT_RECORD_SIZE, record.size);
        std::memcpy(at + AT_RECORD_SHA256, record.sha256, SHA256_LENGTH);
    }
    return STATEMENT_HEADER_LENGTH + static_cast<size_t>(statement.recordCount) * STATEMENT_RECORD_LENGTH;
}

int32_t CheckStatement(const uint8_t* bytes, size_t length, const ReleaseKey* keys, size_t keyCount,
                       const char* modelId, const CatalogueFacts& catalogue, ReleaseStatement* statement)
{
    const int32_t parsed = ParseStatement(bytes, length, statement);
    if (parsed != STATEMENT_OK) return parsed;

    // The signature covers every byte before it, exactly as downloaded.
    const ReleaseKey* key = nullptr;
    for (size_t k = 0; k < keyCount && !key; ++k) {
        if (std::memcmp(keys[k].keyId, statement->keyId, RELEASE_KEY_ID_LENGTH) == 0) key = &keys[k];
    }
    uint8_t digest[SHA256_LENGTH];
    if (!key || !Sha256(bytes, length - P256_SIGNATURE_LENGTH, digest) ||
        !VerifyP256(key->point, digest, statement->signature)) {
        return STATEMENT_BAD_SIGNATURE;
    }

    if (std::memcmp(statement->modelId, modelId, 4) != 0) return STATEMENT_OTHER_MODEL;
    if (statement->catalogueLength != catalogue.length ||
        std::memcmp(statement->catalogueSha256, catalogue.sha256, SHA256_LENGTH) != 0) {
        return STATEMENT_OTHER_CATALOGUE;
    }
    if (!SameRecords(*statement, catalogue)) return STATEMENT_OTHER_RECORDS;
    return STATEMENT_OK;
}

bool ImageMatchesStatement(const ReleaseStatement& statement, int32_t index, const uint8_t* bytes, uint32_t length)
{
    if (index < 0 || index >= statement.recordCount) return false;
    const StatementRecord& record = statement.records[index];
    if (length != record.size) return false;
    uint8_t digest[SHA256_LENGTH];
    return Sha256(bytes, length, digest) && std::memcmp(digest, record.sha256, SHA256_LENGTH) == 0;
}
