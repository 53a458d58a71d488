#pragma once
// The release statement: what a publisher signs about one release (the
// catalogue file and every image package file, by length and SHA-256), its
// reading and its check. Two formats, each in a file of its own on the
// server (docs/release-signing.md has the full description). All numbers
// are big-endian, as in the packages.
//
// Format 1, Door/<model>.Sig, one signature, nothing that orders or ends it:
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
// Format 2, Door/<model>.Sig2, ordered, expiring, up to three signatures:
//   offset  size  field
//        0     4  tag "RVSG"
//        4     1  format version, 2
//        5     1  record count n, 0..8
//        6     1  signature count s, 1..3
//        7     1  0
//        8     8  release serial of the model, 1 and up
//       16     8  expiry: seconds since 1970-01-01 UTC; all ones: never
//       24     4  model id
//       28     4  catalogue file length
//       32    32  SHA-256 of the catalogue file
//       64  68*n  records, as in format 1
//  64+68n  72*s  signatures: key id (8), ECDSA P-256 signature (64) of bytes 0 .. 64+68n-1
//
// Every field has a fixed place, so a statement's length follows from its
// counts, and one length test bounds every read.
#include <cstddef>
#include <cstdint>

#include "update/catalogue.h"
#include "update/release_crypto.h"

constexpr char STATEMENT_TAG[4] = {'R', 'V', 'S', 'G'};
constexpr uint8_t STATEMENT_FORMAT_1 = 1;
constexpr uint8_t STATEMENT_FORMAT_2 = 2;
constexpr size_t RELEASE_KEY_ID_LENGTH = 8;
constexpr size_t STATEMENT_NAME_FIELD = 32;
constexpr size_t STATEMENT_RECORD_LENGTH = STATEMENT_NAME_FIELD + 4 + SHA256_LENGTH;  // 68
constexpr int STATEMENT_MAX_RECORDS = MAX_CATALOGUE_ENTRIES;
constexpr size_t STATEMENT_MAX_RECORDS_LENGTH = STATEMENT_MAX_RECORDS * STATEMENT_RECORD_LENGTH;

constexpr size_t STATEMENT1_HEADER_LENGTH = 56;
constexpr size_t STATEMENT1_MIN_LENGTH = STATEMENT1_HEADER_LENGTH + P256_SIGNATURE_LENGTH;  // 120
constexpr size_t STATEMENT1_MAX_LENGTH = STATEMENT1_MIN_LENGTH + STATEMENT_MAX_RECORDS_LENGTH;  // 664

constexpr size_t STATEMENT2_HEADER_LENGTH = 64;
constexpr int STATEMENT_MAX_SIGNATURES = 3;
constexpr size_t STATEMENT_SIGNATURE_ENTRY = RELEASE_KEY_ID_LENGTH + P256_SIGNATURE_LENGTH;  // 72
constexpr size_t STATEMENT2_MIN_LENGTH = STATEMENT2_HEADER_LENGTH + STATEMENT_SIGNATURE_ENTRY;  // 136
constexpr size_t STATEMENT2_MAX_LENGTH =
    STATEMENT2_HEADER_LENGTH + STATEMENT_MAX_RECORDS_LENGTH + STATEMENT_MAX_SIGNATURES * STATEMENT_SIGNATURE_ENTRY;  // 824

// The longest statement of either format: the buffers' bound.
constexpr size_t STATEMENT_MAX_LENGTH = STATEMENT2_MAX_LENGTH;
// The signed part is everything before the signatures.
constexpr size_t STATEMENT_MAX_SIGNED_LENGTH = STATEMENT2_HEADER_LENGTH + STATEMENT_MAX_RECORDS_LENGTH;

// A format-2 expiry that never comes; a publisher must ask for it by name.
constexpr uint64_t STATEMENT_NEVER_EXPIRES = UINT64_MAX;

struct StatementRecord {
    char name[STATEMENT_NAME_FIELD];  // NUL-terminated, the catalogue record's name
    uint32_t size;                    // length of the image package file
    uint8_t sha256[SHA256_LENGTH];    // of the image package file as downloaded
};

struct StatementSignature {
    uint8_t keyId[RELEASE_KEY_ID_LENGTH];
    uint8_t signature[P256_SIGNATURE_LENGTH];
};

struct ReleaseStatement {
    uint8_t format;    // STATEMENT_FORMAT_1 or _2
    uint64_t serial;   // format 2; 0 in format 1, which has none
    uint64_t expires;  // format 2; STATEMENT_NEVER_EXPIRES in format 1, which has none
    char modelId[5];   // four characters and NUL
    uint32_t catalogueLength;
    uint8_t catalogueSha256[SHA256_LENGTH];
    int32_t recordCount;
    StatementRecord records[STATEMENT_MAX_RECORDS];
    int32_t signatureCount;  // 1 in format 1
    StatementSignature signatures[STATEMENT_MAX_SIGNATURES];
    // Filled by CheckStatement: SHA-256 of the signed part, which names the
    // release whatever its signatures are.
    uint8_t signedSha256[SHA256_LENGTH];
};

// A publisher key the program trusts, compiled in or given.
struct ReleaseKey {
    uint8_t keyId[RELEASE_KEY_ID_LENGTH];
    uint8_t point[P256_POINT_LENGTH];
};

// Results of the statement's checks, in the order they run; identification
// shows them as "0303 %2d". -1 to -6 are the statement's own (CheckStatement);
// -7 and -8 hold it against what this client and the device know.
enum StatementResult : int32_t {
    STATEMENT_OK = 0,
    STATEMENT_MALFORMED = -1,        // not a statement: too short, too long, bad tag, version or fields
    STATEMENT_BAD_SIGNATURE = -2,    // fewer distinct trusted keys signed it than the threshold asks
    STATEMENT_OTHER_MODEL = -3,      // signed for another model
    STATEMENT_OTHER_CATALOGUE = -4,  // the catalogue's length or SHA-256 differs
    STATEMENT_OTHER_RECORDS = -5,    // the catalogue's records (count, names, sizes) differ
    STATEMENT_EXPIRED = -6,          // its expiry has passed
    STATEMENT_SUPERSEDED = -7,       // its serial is below the highest this client accepted for the model
    STATEMENT_BASE_IMAGE_OLDER = -8,  // base image 0's version is below the device's
};

const char* StatementResultName(int32_t code);
const char* StatementResultMeaning(int32_t code);

// Key id of a public key: the first 8 bytes of SHA-256(X || Y).
bool ReleaseKeyId(const uint8_t (&point)[P256_POINT_LENGTH], uint8_t (&keyId)[RELEASE_KEY_ID_LENGTH]);

// Reads the layout of a statement of `format` only (no key, no signature):
// STATEMENT_OK or STATEMENT_MALFORMED. Reads nothing at or past `length`. A
// statement is malformed when its size disagrees with its counts, its tag
// or version is wrong (a file of the other format included), a reserved
// byte is not 0, a name is not NUL-terminated within its field or is
// followed by anything but NULs, the model id holds a NUL, or (format 2)
// the serial is 0 or the signature count is not 1 to 3.
int32_t ParseStatement(const uint8_t* bytes, size_t length, uint8_t format, ReleaseStatement* statement);

// Writes the signed part of `statement` in its format (everything but the
// signatures) to `out` and returns its length; 0 if the statement cannot be
// written (format, record or signature count out of range, a name of 32
// characters or more, a format-2 serial of 0).
size_t WriteStatementBody(const ReleaseStatement& statement, uint8_t (&out)[STATEMENT_MAX_LENGTH]);

// Appends the signature block to a signed part of `bodyLength` bytes in
// `out` and returns the statement's whole length (0 as above).
size_t WriteStatementSignatures(const ReleaseStatement& statement, size_t bodyLength,
                                uint8_t (&out)[STATEMENT_MAX_LENGTH]);

// The catalogue as identification holds it when the statement is checked.
struct CatalogueFacts {
    uint32_t length;                // bytes downloaded
    uint8_t sha256[SHA256_LENGTH];  // of those bytes, taken before CheckPackage decoded them
    const uint8_t* decoded;         // the package after CheckPackage accepted it
    size_t capacity;                // real size of the buffer behind `decoded`
};

// Whom a client trusts, and when it checks.
struct StatementTrust {
    const ReleaseKey* keys;
    size_t keyCount;
    int32_t threshold;  // distinct trusted keys whose signatures must verify, 1 and up
    uint8_t format;     // the only format accepted
    int64_t now;        // seconds since 1970-01-01 UTC, held against a format-2 expiry
};

// The statement's own checks, stopping at the first failure in this order:
// layout (-1), signatures (-2: a key id signing twice counts once, an
// untrusted one not at all), model (-3), catalogue length and hash (-4),
// records (-5; a catalogue whose records cannot be walked counts as
// different), expiry (-6). On STATEMENT_OK `statement` holds the checked
// statement with its signedSha256.
int32_t CheckStatement(const uint8_t* bytes, size_t length, const StatementTrust& trust, const char* modelId,
                       const CatalogueFacts& catalogue, ReleaseStatement* statement);

// True when the download of catalogue entry `index` is exactly the file the
// statement names for that entry: same length and SHA-256.
bool ImageMatchesStatement(const ReleaseStatement& statement, int32_t index, const uint8_t* bytes, uint32_t length);
