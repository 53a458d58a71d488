#pragma once
// The release statement Door/<model>.Sig: what a publisher signs about one
// release (the catalogue file and every image package file, by length and
// SHA-256), its reading and its check. Layout (all numbers big-endian, as in
// the packages; docs/release-signing.md has the full description):
//
//   offset  size  field
//        0     4  tag "RVSG"
//        4     1  format version, 1
//        5     1  record count n, 0..8
//        6     2  0
//        8     8  key id: first 8 bytes of SHA-256(X || Y) of the signing key
//       16     4  model id
//       20     4  catalogue file length
//       24    32  SHA-256 of the catalogue file as stored on the server
//       56  68*n  records: name (32 bytes, NUL-padded, at most 31 characters),
//                 image package length (4), SHA-256 of the package file (32)
//  56+68n     64  ECDSA P-256 signature (SHA-256, raw r || s) of bytes 0 .. 56+68n-1
//
// Every field has a fixed place, so a statement is exactly 120 + 68n bytes
// and never more than STATEMENT_MAX_LENGTH.
#include <cstddef>
#include <cstdint>

#include "update/catalogue.h"
#include "update/release_crypto.h"

constexpr char STATEMENT_TAG[4] = {'R', 'V', 'S', 'G'};
constexpr uint8_t STATEMENT_VERSION = 1;
constexpr size_t RELEASE_KEY_ID_LENGTH = 8;
constexpr size_t STATEMENT_HEADER_LENGTH = 56;
constexpr size_t STATEMENT_NAME_FIELD = 32;
constexpr size_t STATEMENT_RECORD_LENGTH = STATEMENT_NAME_FIELD + 4 + SHA256_LENGTH;  // 68
constexpr int STATEMENT_MAX_RECORDS = MAX_CATALOGUE_ENTRIES;
constexpr size_t STATEMENT_MIN_LENGTH = STATEMENT_HEADER_LENGTH + P256_SIGNATURE_LENGTH;                         // 120
constexpr size_t STATEMENT_MAX_LENGTH = STATEMENT_MIN_LENGTH + STATEMENT_MAX_RECORDS * STATEMENT_RECORD_LENGTH;  // 664

struct StatementRecord {
    char name[STATEMENT_NAME_FIELD];  // NUL-terminated, the catalogue record's name
    uint32_t size;                    // length of the image package file
    uint8_t sha256[SHA256_LENGTH];    // of the image package file as downloaded
};

struct ReleaseStatement {
    uint8_t keyId[RELEASE_KEY_ID_LENGTH];
    char modelId[5];  // four characters and NUL
    uint32_t catalogueLength;
    uint8_t catalogueSha256[SHA256_LENGTH];
    int32_t recordCount;
    StatementRecord records[STATEMENT_MAX_RECORDS];
    uint8_t signature[P256_SIGNATURE_LENGTH];
};

// A publisher key the program trusts, compiled in.
struct ReleaseKey {
    uint8_t keyId[RELEASE_KEY_ID_LENGTH];
    uint8_t point[P256_POINT_LENGTH];
};

// Results of CheckStatement, in the order the checks run; identification
// shows them as "0303 %2d".
enum StatementResult : int32_t {
    STATEMENT_OK = 0,
    STATEMENT_MALFORMED = -1,        // not a statement: too short, too long, bad tag, version or fields
    STATEMENT_BAD_SIGNATURE = -2,    // no trusted key has its key id, or the signature does not verify
    STATEMENT_OTHER_MODEL = -3,      // signed for another model
    STATEMENT_OTHER_CATALOGUE = -4,  // the catalogue's length or SHA-256 differs
    STATEMENT_OTHER_RECORDS = -5,    // the catalogue's records (count, names, sizes) differ
};

const char* StatementResultName(int32_t code);
const char* StatementResultMeaning(int32_t code);

// Key id of a public key: the first 8 bytes of SHA-256(X || Y).
bool ReleaseKeyId(const uint8_t (&point)[P256_POINT_LENGTH], uint8_t (&keyId)[RELEASE_KEY_ID_LENGTH]);

// Reads the layout only (no key, no signature): STATEMENT_OK or
// STATEMENT_MALFORMED. Reads nothing at or past `length`. Besides the sizes,
// a statement is malformed when its tag, version or reserved bytes are
// wrong, its record count disagrees with its length, a name is not
// NUL-terminated within its field or is followed by anything but NULs, or
// the model id holds a NUL.
int32_t ParseStatement(const uint8_t* bytes, size_t length, ReleaseStatement* statement);

// Writes the signed part of `statement` (everything but the signature) to
// `out` and returns its length, 56 + 68 * recordCount; 0 if the statement
// cannot be written (record count out of range, a name of 32 characters or more).
size_t WriteStatementBody(const ReleaseStatement& statement, uint8_t (&out)[STATEMENT_MAX_LENGTH]);

// The catalogue as identification holds it when the statement is checked.
struct CatalogueFacts {
    uint32_t length;                // bytes downloaded
    uint8_t sha256[SHA256_LENGTH];  // of those bytes, taken before CheckPackage decoded them
    const uint8_t* decoded;         // the package after CheckPackage accepted it
    size_t capacity;                // real size of the buffer behind `decoded`
};

// The whole check, stopping at the first failure in this order: layout (-1),
// key id and signature (-2), model (-3), catalogue length and hash (-4),
// records (-5; a catalogue whose records cannot be walked counts as
// different). On STATEMENT_OK `statement` holds the checked statement.
int32_t CheckStatement(const uint8_t* bytes, size_t length, const ReleaseKey* keys, size_t keyCount,
                       const char* modelId, const CatalogueFacts& catalogue, ReleaseStatement* statement);

// True when the download of catalogue entry `index` is exactly the file the
// statement names for that entry: same length and SHA-256.
bool ImageMatchesStatement(const ReleaseStatement& statement, int32_t index, const uint8_t* bytes, uint32_t length);
