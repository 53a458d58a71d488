// Reading, writing and checking release statements.
#include "update/release_statement.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "update/result_text.h"

namespace {

constexpr ResultText STATEMENT_RESULT_TEXTS[] = {
    {STATEMENT_OK, "STATEMENT_OK", "the statement is signed by trusted keys and matches the catalogue"},
    {STATEMENT_MALFORMED, "STATEMENT_MALFORMED",
     "not a release statement: wrong size, tag, version or field (a missing file arrives as the server's answer)"},
    {STATEMENT_BAD_SIGNATURE, "STATEMENT_BAD_SIGNATURE",
     "fewer distinct trusted keys signed the statement than this updater requires"},
    {STATEMENT_OTHER_MODEL, "STATEMENT_OTHER_MODEL", "the statement is for another model"},
    {STATEMENT_OTHER_CATALOGUE, "STATEMENT_OTHER_CATALOGUE", "the catalogue's length or SHA-256 differs"},
    {STATEMENT_OTHER_RECORDS, "STATEMENT_OTHER_RECORDS",
     "the catalogue's records (count, names or sizes) differ from the statement's"},
    {STATEMENT_EXPIRED, "STATEMENT_EXPIRED", "the statement has expired (or this computer's clock is wrong)"},
    {STATEMENT_SUPERSEDED, "STATEMENT_SUPERSEDED",
     "the release is older than one this updater already accepted for the model (a replay)"},
    {STATEMENT_BASE_IMAGE_OLDER, "STATEMENT_BASE_IMAGE_OLDER",
     "base image 0 has a lower version than the device carries"},
};

// Field offsets, as in the layouts in the header. Both formats open with
// the tag, the version and the record count.
constexpr size_t AT_VERSION = 4;
constexpr size_t AT_COUNT = 5;

constexpr size_t V1_AT_RESERVED = 6;
constexpr size_t V1_AT_KEY_ID = 8;
constexpr size_t V1_AT_MODEL = 16;
constexpr size_t V1_AT_CATALOGUE_LENGTH = 20;
constexpr size_t V1_AT_CATALOGUE_SHA256 = 24;
static_assert(V1_AT_CATALOGUE_SHA256 + SHA256_LENGTH == STATEMENT1_HEADER_LENGTH, "records follow the header");

constexpr size_t V2_AT_SIGNATURE_COUNT = 6;
constexpr size_t V2_AT_RESERVED = 7;
constexpr size_t V2_AT_SERIAL = 8;
constexpr size_t V2_AT_EXPIRES = 16;
constexpr size_t V2_AT_MODEL = 24;
constexpr size_t V2_AT_CATALOGUE_LENGTH = 28;
constexpr size_t V2_AT_CATALOGUE_SHA256 = 32;
static_assert(V2_AT_CATALOGUE_SHA256 + SHA256_LENGTH == STATEMENT2_HEADER_LENGTH, "records follow the header");

constexpr size_t AT_RECORD_SIZE = STATEMENT_NAME_FIELD;
constexpr size_t AT_RECORD_SHA256 = STATEMENT_NAME_FIELD + 4;
static_assert(AT_RECORD_SHA256 + SHA256_LENGTH == STATEMENT_RECORD_LENGTH, "record fields fill the record");
static_assert(STATEMENT1_MAX_LENGTH == 664 && STATEMENT2_MAX_LENGTH == 824, "the documented limits");

// Where each format keeps the fields both have.
struct FormatLayout {
    size_t header, model, catalogueLength, catalogueSha256;
};
constexpr FormatLayout LAYOUT_1 = {STATEMENT1_HEADER_LENGTH, V1_AT_MODEL, V1_AT_CATALOGUE_LENGTH, V1_AT_CATALOGUE_SHA256};
constexpr FormatLayout LAYOUT_2 = {STATEMENT2_HEADER_LENGTH, V2_AT_MODEL, V2_AT_CATALOGUE_LENGTH, V2_AT_CATALOGUE_SHA256};

const FormatLayout* LayoutOf(uint8_t format)
{
    return format == STATEMENT_FORMAT_1 ? &LAYOUT_1 : format == STATEMENT_FORMAT_2 ? &LAYOUT_2 : nullptr;
}

size_t SignedLength(const FormatLayout& layout, size_t recordCount)
{
    return layout.header + recordCount * STATEMENT_RECORD_LENGTH;
}

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

// The format's own header fields; false when one is malformed. Sets the
// signature count.
bool ReadFormatFields(const uint8_t* bytes, size_t length, uint8_t format, ReleaseStatement* statement)
{
    const size_t count = bytes[AT_COUNT];
    if (count > STATEMENT_MAX_RECORDS) return false;
    if (format == STATEMENT_FORMAT_1) {
        if (bytes[V1_AT_RESERVED] != 0 || bytes[V1_AT_RESERVED + 1] != 0) return false;
        if (length != STATEMENT1_MIN_LENGTH + count * STATEMENT_RECORD_LENGTH) return false;
        statement->signatureCount = 1;
        statement->expires = STATEMENT_NEVER_EXPIRES;
        std::memcpy(statement->signatures[0].keyId, bytes + V1_AT_KEY_ID, RELEASE_KEY_ID_LENGTH);
        std::memcpy(statement->signatures[0].signature, bytes + length - P256_SIGNATURE_LENGTH,
                    P256_SIGNATURE_LENGTH);
        return true;
    }
    const size_t signatures = bytes[V2_AT_SIGNATURE_COUNT];
    if (signatures < 1 || signatures > STATEMENT_MAX_SIGNATURES || bytes[V2_AT_RESERVED] != 0) return false;
    const size_t signedLength = SignedLength(LAYOUT_2, count);
    if (length != signedLength + signatures * STATEMENT_SIGNATURE_ENTRY) return false;
    statement->serial = ReadBigEndian64(bytes + V2_AT_SERIAL);
    if (statement->serial == 0) return false;
    statement->expires = ReadBigEndian64(bytes + V2_AT_EXPIRES);
    statement->signatureCount = static_cast<int32_t>(signatures);
    for (size_t i = 0; i < signatures; ++i) {
        const uint8_t* at = bytes + signedLength + i * STATEMENT_SIGNATURE_ENTRY;
        std::memcpy(statement->signatures[i].keyId, at, RELEASE_KEY_ID_LENGTH);
        std::memcpy(statement->signatures[i].signature, at + RELEASE_KEY_ID_LENGTH, P256_SIGNATURE_LENGTH);
    }
    return true;
}

const ReleaseKey* TrustedKey(const StatementTrust& trust, const uint8_t (&keyId)[RELEASE_KEY_ID_LENGTH])
{
    for (size_t k = 0; k < trust.keyCount; ++k)
        if (std::memcmp(trust.keys[k].keyId, keyId, RELEASE_KEY_ID_LENGTH) == 0) return &trust.keys[k];
    return nullptr;
}

// Distinct trusted keys with a valid signature over `digest`. A key that
// signs twice is counted once, however many of its signatures verify.
int32_t TrustedSigners(const ReleaseStatement& statement, const StatementTrust& trust,
                       const uint8_t (&digest)[SHA256_LENGTH])
{
    const ReleaseKey* counted[STATEMENT_MAX_SIGNATURES] = {};
    int32_t signers = 0;
    for (int32_t i = 0; i < statement.signatureCount; ++i) {
        const ReleaseKey* key = TrustedKey(trust, statement.signatures[i].keyId);
        if (key == nullptr || std::find(counted, counted + signers, key) != counted + signers) continue;
        if (VerifyP256(key->point, digest, statement.signatures[i].signature)) counted[signers++] = key;
    }
    return signers;
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

int32_t ParseStatement(const uint8_t* bytes, size_t length, uint8_t format, ReleaseStatement* statement)
{
    std::memset(statement, 0, sizeof *statement);
    const FormatLayout* layout = LayoutOf(format);
    const size_t minimum = format == STATEMENT_FORMAT_1 ? STATEMENT1_MIN_LENGTH : STATEMENT2_MIN_LENGTH;
    if (bytes == nullptr || layout == nullptr || length < minimum || length > STATEMENT_MAX_LENGTH)
        return STATEMENT_MALFORMED;
    if (std::memcmp(bytes, STATEMENT_TAG, sizeof STATEMENT_TAG) != 0) return STATEMENT_MALFORMED;
    if (bytes[AT_VERSION] != format) return STATEMENT_MALFORMED;
    statement->format = format;
    if (!ReadFormatFields(bytes, length, format, statement) ||
        std::memchr(bytes + layout->model, 0, 4) != nullptr) {
        std::memset(statement, 0, sizeof *statement);
        return STATEMENT_MALFORMED;
    }

    std::memcpy(statement->modelId, bytes + layout->model, 4);
    statement->catalogueLength = ReadBigEndian32(bytes + layout->catalogueLength);
    std::memcpy(statement->catalogueSha256, bytes + layout->catalogueSha256, SHA256_LENGTH);
    const size_t count = bytes[AT_COUNT];
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* at = bytes + layout->header + i * STATEMENT_RECORD_LENGTH;
        StatementRecord& record = statement->records[i];
        if (!ReadNameField(at, record.name)) {
            std::memset(statement, 0, sizeof *statement);
            return STATEMENT_MALFORMED;
        }
        record.size = ReadBigEndian32(at + AT_RECORD_SIZE);
        std::memcpy(record.sha256, at + AT_RECORD_SHA256, SHA256_LENGTH);
    }
    statement->recordCount = static_cast<int32_t>(count);
    return STATEMENT_OK;
}

size_t WriteStatementBody(const ReleaseStatement& statement, uint8_t (&out)[STATEMENT_MAX_LENGTH])
{
    const FormatLayout* layout = LayoutOf(statement.format);
    if (layout == nullptr || statement.recordCount < 0 || statement.recordCount > STATEMENT_MAX_RECORDS) return 0;
    if (statement.signatureCount < 1 || statement.signatureCount > STATEMENT_MAX_SIGNATURES) return 0;
    std::memset(out, 0, sizeof out);
    std::memcpy(out, STATEMENT_TAG, sizeof STATEMENT_TAG);
    out[AT_VERSION] = statement.format;
    out[AT_COUNT] = static_cast<uint8_t>(statement.recordCount);
    if (statement.format == STATEMENT_FORMAT_1) {
        if (statement.signatureCount != 1) return 0;
        std::memcpy(out + V1_AT_KEY_ID, statement.signatures[0].keyId, RELEASE_KEY_ID_LENGTH);
    } else {
        if (statement.serial == 0) return 0;
        out[V2_AT_SIGNATURE_COUNT] = static_cast<uint8_t>(statement.signatureCount);
        WriteBigEndian64(out + V2_AT_SERIAL, statement.serial);
        WriteBigEndian64(out + V2_AT_EXPIRES, statement.expires);
    }
    std::memcpy(out + layout->model, statement.modelId, 4);
    WriteBigEndian32(out + layout->catalogueLength, statement.catalogueLength);
    std::memcpy(out + layout->catalogueSha256, statement.catalogueSha256, SHA256_LENGTH);
    for (int32_t i = 0; i < statement.recordCount; ++i) {
        const StatementRecord& record = statement.records[i];
        const size_t nameLength = strnlen(record.name, STATEMENT_NAME_FIELD);
        if (nameLength >= STATEMENT_NAME_FIELD) return 0;
        uint8_t* at = out + layout->header + i * STATEMENT_RECORD_LENGTH;
        std::memcpy(at, record.name, nameLength);
        WriteBigEndian32(at + AT_RECORD_SIZE, record.size);
        std::memcpy(at + AT_RECORD_SHA256, record.sha256, SHA256_LENGTH);
    }
    return SignedLength(*layout, static_cast<size_t>(statement.recordCount));
}

size_t WriteStatementSignatures(const ReleaseStatement& statement, size_t bodyLength,
                                uint8_t (&out)[STATEMENT_MAX_LENGTH])
{
    const FormatLayout* layout = LayoutOf(statement.format);
    if (layout == nullptr || statement.recordCount < 0 || statement.recordCount > STATEMENT_MAX_RECORDS ||
        bodyLength != SignedLength(*layout, static_cast<size_t>(statement.recordCount)))
        return 0;
    if (statement.format == STATEMENT_FORMAT_1) {
        if (statement.signatureCount != 1) return 0;
        std::memcpy(out + bodyLength, statement.signatures[0].signature, P256_SIGNATURE_LENGTH);
        return bodyLength + P256_SIGNATURE_LENGTH;
    }
    if (statement.signatureCount < 1 || statement.signatureCount > STATEMENT_MAX_SIGNATURES) return 0;
    uint8_t* at = out + bodyLength;
    for (int32_t i = 0; i < statement.signatureCount; ++i, at += STATEMENT_SIGNATURE_ENTRY) {
        std::memcpy(at, statement.signatures[i].keyId, RELEASE_KEY_ID_LENGTH);
        std::memcpy(at + RELEASE_KEY_ID_LENGTH, statement.signatures[i].signature, P256_SIGNATURE_LENGTH);
    }
    return static_cast<size_t>(at - out);
}

int32_t CheckStatement(const uint8_t* bytes, size_t length, const StatementTrust& trust, const char* modelId,
                       const CatalogueFacts& catalogue, ReleaseStatement* statement)
{
    const int32_t parsed = ParseStatement(bytes, length, trust.format, statement);
    if (parsed != STATEMENT_OK) return parsed;

    // The signatures cover every byte before them, exactly as downloaded.
    const size_t signedLength = SignedLength(*LayoutOf(trust.format), static_cast<size_t>(statement->recordCount));
    if (!Sha256(bytes, signedLength, statement->signedSha256)) return STATEMENT_BAD_SIGNATURE;
    const int32_t threshold = trust.threshold < 1 ? 1 : trust.threshold;
    if (TrustedSigners(*statement, trust, statement->signedSha256) < threshold) return STATEMENT_BAD_SIGNATURE;

    if (std::memcmp(statement->modelId, modelId, 4) != 0) return STATEMENT_OTHER_MODEL;
    if (statement->catalogueLength != catalogue.length ||
        std::memcmp(statement->catalogueSha256, catalogue.sha256, SHA256_LENGTH) != 0) {
        return STATEMENT_OTHER_CATALOGUE;
    }
    if (!SameRecords(*statement, catalogue)) return STATEMENT_OTHER_RECORDS;
    // A clock before 1970 reads as 1970: nothing it accepts is more than what the earliest valid clock accepts.
    const uint64_t now = trust.now < 0 ? 0 : static_cast<uint64_t>(trust.now);
    if (now >= statement->expires) return STATEMENT_EXPIRED;
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
