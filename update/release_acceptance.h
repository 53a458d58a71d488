#pragma once
// The updater's decisions on a release, in the one order both front ends
// follow: the device record, the catalogue (the package check on the bytes
// as downloaded, the release statement on signed releases, the status byte,
// the walk, the skip rules) and each image (the statement first, then the
// package check). No I/O and no window: fetching goes through
// CReleaseSource, and each step ends in a ReleaseResult that carries the
// window's code, which each front end only presents.
#include <cstddef>
#include <cstdint>

#include "update/catalogue.h"
#include "update/device_info.h"
#include "update/release_statement.h"

enum class ReleaseVerdict {
    ACCEPTED,
    UPDATER_OUTDATED,    // the device or the catalogue needs a newer updater
    NOT_FETCHED,         // the source stopped without a file and has said why
    CATALOGUE_REFUSED,   // 0302: the package check or the walk, `code` theirs
    STATEMENT_REFUSED,   // 0303: the statement check, `code` its result
    CATALOGUE_STALE,     // the server's data is out of date
    CATALOGUE_EMPTY,     // an empty answer; the check refuses it before this
    IMAGE_REFUSED,       // 0402: the package check, `code` its result
    IMAGE_NOT_SIGNED,    // 0404+: not the file the statement names, `code` the entry
    IMAGE_NOT_VERIFIED,  // 0403+: programmed, but read back differently, `code` the entry
    HISTORY_FAILED,      // 0304: the store of accepted releases, `code` HISTORY_UNREADABLE or _UNWRITABLE
};

// Codes of a failed store of accepted releases (update/release_history.h).
constexpr int32_t HISTORY_UNREADABLE = -1;
constexpr int32_t HISTORY_UNWRITABLE = -2;

struct ReleaseResult {
    ReleaseVerdict verdict;
    int32_t code;
};

// The window's code of a refusal, "0302 -7", "0404+ 1", "0304 -1"; empty for a verdict
// without one.
constexpr size_t WINDOW_CODE_SIZE = 16;
void FormatWindowCode(const ReleaseResult& result, char (&text)[WINDOW_CODE_SIZE]);

// A body that did not arrive whole: too large for its buffer, or a download
// that failed after its failure was shown. The checks refuse it as a length.
constexpr uint32_t NO_BODY = UINT32_MAX;

// The crypto and the memory of a signed release, behind an interface so
// that a build without release keys links none of it
// (update/release_signing.h has the one implementation).
class CReleaseSigning {
public:
    virtual ~CReleaseSigning() = default;
    virtual void HashCatalogue(const uint8_t* bytes, uint32_t length, uint8_t (&sha256)[SHA256_LENGTH]) const = 0;
    // True when the download of catalogue entry `index` is the very file the
    // accepted statement names for it.
    virtual bool ImageMatches(int32_t index, const uint8_t* bytes, uint32_t length) const = 0;
    // The statement that holds against the newest release this client
    // accepted for the model: ACCEPTED, STATEMENT_REFUSED with
    // STATEMENT_SUPERSEDED, or HISTORY_FAILED.
    virtual ReleaseResult CheckHistory(const char* modelId) const = 0;
    // Remembers the statement's release as accepted (raises, never lowers):
    // ACCEPTED or HISTORY_FAILED.
    virtual ReleaseResult KeepAccepted(const char* modelId) const = 0;
};

// What identification fetches, through the front end's downloads.
class CReleaseSource {
public:
    virtual ~CReleaseSource() = default;
    // Fetches the model's catalogue into `buffer` and returns its length,
    // NO_BODY, or `stop` set when the front end ends identification here
    // (it has told why). `again` asks past anything kept from before.
    virtual uint32_t FetchCatalogue(uint8_t* buffer, uint32_t capacity, bool again, bool* stop) = 0;
    // Signed releases: fetches the model's statement and checks it against
    // the trusted keys and `catalogue`; returns the check's code (a statement
    // that did not arrive is STATEMENT_MALFORMED). The source keeps the
    // statement that holds.
    virtual int32_t CheckStatement(const CatalogueFacts& catalogue, bool again) = 0;
};

// The device's record: a device of a later updater generation is refused.
ReleaseResult AcceptDevice(const DeviceInfo& info);

// Fetches and accepts the catalogue of model `modelId` into `buffer` (of
// CATALOGUE_BUFFER_SIZE bytes), then walks it into `walk`, with the skip
// rules of `device` applied (null: the publisher's check, every record
// kept). With `signing` (a signed release) the release statement must hold
// (a pair that a release swapped between the two requests may have split is
// fetched once more, update/release_pair.h, into the same buffer), its
// release must not be older than the newest this client accepted, and with
// a device, base image 0 must not go below the device's version; only then
// is the release remembered as accepted.
ReleaseResult AcceptCatalogue(CReleaseSource& source, const char* modelId, const DeviceInfo* device,
                              const CReleaseSigning* signing, uint8_t* buffer, CatalogueWalk* walk);

// An image download of catalogue entry `index`, `length` bytes (or NO_BODY)
// in a buffer of `capacity`: on a signed release (`signing` not null) the
// very file the statement names, then the package check, which decodes it
// in place.
ReleaseResult AcceptImage(const CReleaseSigning* signing, int32_t index, const CatalogueEntry& entry,
                          uint8_t* package, uint32_t length, uint32_t capacity);
