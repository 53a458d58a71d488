#include "update/release_acceptance.h"

#include <cstdio>

#include "update/buffer_sizes.h"
#include "update/package.h"
#include "update/release_pair.h"
#include "update/server_layout.h"

namespace {

// The package check of a catalogue as downloaded. Signed releases hash it
// first, exactly as it arrived, before the check decodes it in place.
int32_t CheckCatalogueBytes(uint8_t* buffer, uint32_t length, const char* modelId, const CReleaseSigning* signing,
                            CatalogueFacts* facts)
{
    if (signing != nullptr) {
        *facts = CatalogueFacts{};
        if (length != NO_BODY) {
            facts->length = length;
            signing->HashCatalogue(buffer, length, facts->sha256);
        }
        facts->decoded = buffer;
        facts->capacity = CATALOGUE_MAX_LENGTH;  // the statement is read in behind it
    }
    return CheckPackage(PACKAGE_CATALOGUE, buffer, length, modelId, CATALOGUE_BUFFER_SIZE);
}

// The catalogue and its statement once more. A catalogue refused here is not
// told: the first pair's refusal is the one that stands.
int32_t CheckPairAgain(CReleaseSource& source, const char* modelId, const CReleaseSigning& signing, uint8_t* buffer,
                       uint32_t* length)
{
    bool stop = false;
    *length = source.FetchCatalogue(buffer, CATALOGUE_BUFFER_SIZE, true, &stop);
    CatalogueFacts facts{};
    if (stop || CheckCatalogueBytes(buffer, *length, modelId, &signing, &facts) != PACKAGE_OK)
        return STATEMENT_MALFORMED;
    return source.CheckStatement(facts, true);
}

}  // namespace

void FormatWindowCode(const ReleaseResult& result, char (&text)[WINDOW_CODE_SIZE])
{
    const char* format = "";
    switch (result.verdict) {
    case ReleaseVerdict::CATALOGUE_REFUSED: format = "0302 %2d"; break;
    case ReleaseVerdict::STATEMENT_REFUSED: format = "0303 %2d"; break;
    case ReleaseVerdict::IMAGE_REFUSED: format = "0402 %2d"; break;
    case ReleaseVerdict::IMAGE_NOT_SIGNED: format = "0404+%2d"; break;
    case ReleaseVerdict::IMAGE_NOT_VERIFIED: format = "0403+%2d"; break;
    case ReleaseVerdict::HISTORY_FAILED: format = "0304 %2d"; break;
    default: break;
    }
    std::snprintf(text, sizeof text, format, static_cast<int>(result.code));
}

ReleaseResult AcceptDevice(const DeviceInfo& info)
{
    if (info.updaterLevel > MAX_UPDATER_LEVEL) return {ReleaseVerdict::UPDATER_OUTDATED, 0};
    return {ReleaseVerdict::ACCEPTED, 0};
}

ReleaseResult AcceptCatalogue(CReleaseSource& source, const char* modelId, const DeviceInfo* device,
                              const CReleaseSigning* signing, uint8_t* buffer, CatalogueWalk* walk)
{
    bool stop = false;
    uint32_t length = source.FetchCatalogue(buffer, CATALOGUE_BUFFER_SIZE, false, &stop);
    if (stop) return {ReleaseVerdict::NOT_FETCHED, 0};
    CatalogueFacts facts{};
    const int32_t code = CheckCatalogueBytes(buffer, length, modelId, signing, &facts);
    if (code != PACKAGE_OK) return {ReleaseVerdict::CATALOGUE_REFUSED, code};

    // Nothing of the catalogue is used before its publisher's statement holds.
    if (signing != nullptr) {
        const int32_t statementCode =
            CheckReleasePair([&] { return source.CheckStatement(facts, false); },
                             [&] { return CheckPairAgain(source, modelId, *signing, buffer, &length); });
        if (statementCode != STATEMENT_OK) return {ReleaseVerdict::STATEMENT_REFUSED, statementCode};
        const ReleaseResult history = signing->CheckHistory(modelId);
        if (history.verdict != ReleaseVerdict::ACCEPTED) return history;
    }

    const uint8_t status = reinterpret_cast<const PackageHeader*>(buffer)->status;
    if (status < CATALOGUE_STATUS_CURRENT) return {ReleaseVerdict::CATALOGUE_STALE, status};
    if (status > CATALOGUE_STATUS_CURRENT) return {ReleaseVerdict::UPDATER_OUTDATED, status};
    // Not reachable through the check: an accepted package holds at least
    // its 32-byte header. Kept so that an empty answer can never be walked.
    if (length == 0) return {ReleaseVerdict::CATALOGUE_EMPTY, 0};

    // The whole catalogue is read before anything is shown, so a catalogue
    // that breaks a limit is refused as a whole, never cut.
    const int32_t walkCode = WalkCatalogue(buffer, CATALOGUE_BUFFER_SIZE, walk);
    if (walkCode != CATALOGUE_OK) return {ReleaseVerdict::CATALOGUE_REFUSED, walkCode};
    // A signed release never takes the firmware back, even on a client that
    // has never seen a newer release. Only base image 0's version is
    // ordered; image 1's is compared as text.
    if (signing != nullptr && device != nullptr && walk->count > 0 &&
        BaseImageVersion(walk->entries[0].name) < device->deviceVersion)
        return {ReleaseVerdict::STATEMENT_REFUSED, STATEMENT_BASE_IMAGE_OLDER};
    if (signing != nullptr) {
        const ReleaseResult kept = signing->KeepAccepted(modelId);
        if (kept.verdict != ReleaseVerdict::ACCEPTED) return kept;
    }
    if (device != nullptr)
        ApplySkipRules(walk->entries, walk->count, walk->comparisonText, device->deviceVersion,
                       device->deviceSecondVersion);
    return {ReleaseVerdict::ACCEPTED, 0};
}

ReleaseResult AcceptImage(const CReleaseSigning* signing, int32_t index, const CatalogueEntry& entry,
                          uint8_t* package, uint32_t length, uint32_t capacity)
{
    // The very file the publisher signed, before the check decodes it and
    // before any block is erased. A body that did not arrive whole keeps its
    // path to the package check's refusal.
    if (signing != nullptr && length != NO_BODY && !signing->ImageMatches(index, package, length))
        return {ReleaseVerdict::IMAGE_NOT_SIGNED, index};
    char id[PACKAGE_ID_LENGTH + 1];
    ImagePackageId(entry.name, id);
    const int32_t code = CheckPackage(PACKAGE_IMAGE, package, length, id, capacity);
    if (code != PACKAGE_OK) return {ReleaseVerdict::IMAGE_REFUSED, code};
    return {ReleaseVerdict::ACCEPTED, 0};
}
