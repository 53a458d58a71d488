// The check of a whole release's Door, with the updater's own functions.
#include "tools/ruvo-pack/release_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/quoted.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/folder_release_source.h"
#include "update/buffer_sizes.h"
#include "update/catalogue.h"
#include "update/package.h"
#include "update/release_signing.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* bytes, size_t length)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 15];
    }
    return text;
}

struct DoorListing {
    std::vector<std::string> catalogues, statements;  // model ids, sorted
    std::vector<std::string> irregular;               // paths of entries that are no regular file
};

// Sorts a Door's files into catalogues and statements, and notes what is not
// a regular file (a link, which the web server would follow; a folder).
bool ListDoor(const std::string& doorDir, DoorListing* listing, std::string* error)
{
    std::error_code code;
    for (fs::directory_iterator it(doorDir, code), end; !code && it != end; it.increment(code)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(TEMP_FILE_PREFIX, 0) == 0) continue;
        if (it->symlink_status(code).type() != fs::file_type::regular) {
            listing->irregular.push_back(it->path().string());
            continue;
        }
        if (name.size() != 8) continue;
        if (name.compare(4, 4, ".Bin") == 0) listing->catalogues.push_back(name.substr(0, 4));
        if (name.compare(4, 4, ".Sig") == 0) listing->statements.push_back(name.substr(0, 4));
    }
    if (code) {
        *error = "cannot list " + Quoted(doorDir) + ": " + code.message();
        return false;
    }
    std::sort(listing->catalogues.begin(), listing->catalogues.end());
    std::sort(listing->statements.begin(), listing->statements.end());
    return true;
}

// Why a statement failed the signature step: which key id it names, and
// whether that key was given at all.
std::string SignatureFinding(const Bytes& bytes, const std::vector<ReleaseKey>& keys)
{
    ReleaseStatement parsed;
    if (ParseStatement(bytes.data(), bytes.size(), STATEMENT_FORMAT_1, &parsed) != STATEMENT_OK) return "";
    const uint8_t(&keyId)[RELEASE_KEY_ID_LENGTH] = parsed.signatures[0].keyId;
    const std::string id = Hex(keyId, sizeof keyId);
    for (const ReleaseKey& key : keys) {
        if (std::equal(key.keyId, key.keyId + RELEASE_KEY_ID_LENGTH, keyId)) {
            return "; it names key id " + id + " and does not verify under that key";
        }
    }
    return "; it names key id " + id + ", which is none of the keys given (the signing key, --key PUB.pem)";
}

// One model's catalogue, its statement when it has one, and every image a
// client may fetch, accepted as a client accepts them (update/release_acceptance.h),
// with the publisher's words for what fails.
bool CheckModel(const std::string& doorDir, const std::string& poolDir, const std::string& model, bool signedRelease,
                const std::vector<ReleaseKey>& keys, std::string* error)
{
    CFolderReleaseSource release(doorDir, poolDir, model, keys);
    const std::string path = release.Path(ServerFile::CATALOGUE, model.c_str());
    const std::string statementPath = release.Path(ServerFile::STATEMENT, model.c_str());
    if (signedRelease && keys.empty()) {
        *error = Quoted(statementPath) +
                 " is a signed statement, and no key to check it was given: give its public key "
                 "with --key PUB.pem";
        return false;
    }
    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    CatalogueWalk walk;
    const CStatementSigning signing(&release.Statement(), nullptr, nullptr, 0);
    const CReleaseSigning* checks = signedRelease ? &signing : nullptr;
    const ReleaseResult result = AcceptCatalogue(release, model.c_str(), nullptr, checks, buffer.data(), &walk);
    switch (result.verdict) {
    case ReleaseVerdict::ACCEPTED:
        break;
    case ReleaseVerdict::CATALOGUE_STALE:
    case ReleaseVerdict::UPDATER_OUTDATED:
        return true;  // the updater reads no records then
    case ReleaseVerdict::CATALOGUE_REFUSED:
        *error = result.code <= CATALOGUE_NO_BUFFER
                     ? Quoted(path) + " fails the record walk: " + CatalogueResultName(result.code)
                     : Quoted(path) + " fails the catalogue check: " + PackageResultName(result.code);
        return false;
    case ReleaseVerdict::STATEMENT_REFUSED:
        if (!release.Error().empty()) {
            *error = release.Error();
            return false;
        }
        *error = Quoted(statementPath) + " fails the statement check: " + StatementResultName(result.code) + ": " +
                 StatementResultMeaning(result.code) +
                 (result.code == STATEMENT_BAD_SIGNATURE ? SignatureFinding(release.StatementBytes(), keys) : "");
        return false;
    default:
        *error = release.Error();
        return false;
    }

    for (int32_t i = 0; i < walk.count; ++i) {
        const CatalogueEntry& entry = walk.entries[i];
        if (entry.size == 0) continue;  // the updater skips such a record
        const std::string record = "record " + std::to_string(i) + " of " + Quoted(path);
        std::string reason;
        if (!CheckPoolName(entry.name, &reason)) {
            *error = record + ": " + reason;
            return false;
        }
        const std::string imagePath = release.Path(ServerFile::IMAGE, entry.name);
        std::vector<uint8_t> image;
        uint32_t length = 0;
        uint64_t fileSize = 0;
        if (!release.FetchImage(entry.name, entry.size, &image, &length, &fileSize)) {
            *error = record + ": " + release.Error();
            return false;
        }
        if (fileSize != static_cast<uint64_t>(entry.size)) {
            *error = Quoted(imagePath) + " is " + std::to_string(fileSize) + " bytes, but " + record + " says " +
                     std::to_string(entry.size);
            return false;
        }
        const ReleaseResult accepted = AcceptImage(checks, i, entry, image.data(), length, uint32_t(image.size()));
        if (accepted.verdict == ReleaseVerdict::IMAGE_NOT_SIGNED) {
            *error = Quoted(imagePath) + " is not the image " + Quoted(statementPath) + " names: its SHA-256 differs";
            return false;
        }
        if (accepted.verdict != ReleaseVerdict::ACCEPTED) {
            *error = Quoted(imagePath) + " fails the image check: " + PackageResultName(accepted.code);
            return false;
        }
    }
    return true;
}

}  // namespace

bool CheckStagedRelease(const std::string& doorDir, const std::string& poolDir, const std::vector<ReleaseKey>& keys,
                        std::string* error)
{
    DoorListing listing;
    if (!ListDoor(doorDir, &listing, error)) return false;
    if (!listing.irregular.empty()) {
        *error = Quoted(listing.irregular.front()) + " is not a regular file, and a Door holds regular files only";
        return false;
    }
    for (const std::string& model : listing.statements) {
        if (!std::binary_search(listing.catalogues.begin(), listing.catalogues.end(), model)) {
            *error = Quoted((fs::path(doorDir) / (model + ".Sig")).string()) +
                     " is a statement without its catalogue " + model + ".Bin";
            return false;
        }
    }
    for (const std::string& model : listing.catalogues) {
        const bool hasStatement = std::binary_search(listing.statements.begin(), listing.statements.end(), model);
        if (!CheckModel(doorDir, poolDir, model, hasStatement, keys, error)) return false;
    }
    return true;
}

std::vector<std::string> SignedModelsIn(const std::string& doorDir)
{
    DoorListing listing;
    std::string ignored;
    ListDoor(doorDir, &listing, &ignored);
    return listing.statements;
}
