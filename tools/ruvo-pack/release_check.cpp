// The check of a whole release's Door, with the updater's own functions.
#include "release_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/quoted.h"
#include "files.h"
#include "package_reader.h"
#include "release.h"
#include "update/catalogue.h"
#include "update/package.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// Longer than any statement, so that a longer file is read and named as
// malformed rather than refused unread.
constexpr uint64_t STATEMENT_FILE_MAX = 64 * 1024;

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

// A catalogue as a client holds it: the stored bytes (hashed by the
// statement check) and the package after the check decoded it.
struct HeldCatalogue {
    std::string path;
    Bytes stored, plain;
};

bool CheckCatalogue(const std::string& doorDir, const std::string& poolDir, const std::string& model,
                    HeldCatalogue* catalogue, std::string* error)
{
    catalogue->path = (fs::path(doorDir) / (model + ".Bin")).string();
    const std::string& path = catalogue->path;
    if (!ReadWholeFile(path, CATALOGUE_FILE_MAX, &catalogue->stored, error)) return false;
    const int32_t code = CheckStoredPackage(PACKAGE_CATALOGUE, catalogue->stored, model, &catalogue->plain);
    if (code != PACKAGE_OK) {
        *error = Quoted(path) + " fails the catalogue check: " + PackageResultName(code);
        return false;
    }
    if (catalogue->plain[10] != CATALOGUE_STATUS_CURRENT) return true;  // the updater reads no records then
    CatalogueWalk walk;
    const int32_t walked = WalkCatalogue(catalogue->plain.data(), catalogue->plain.size(), &walk);
    if (walked != CATALOGUE_OK) {
        *error = Quoted(path) + " fails the record walk: " + CatalogueResultName(walked);
        return false;
    }
    for (int32_t i = 0; i < walk.count; ++i) {
        const std::string name = walk.entries[i].name;
        const std::string record = "record " + std::to_string(i) + " of " + Quoted(path);
        if (walk.entries[i].size == 0) continue;  // the updater skips such a record
        std::string reason;
        if (!CheckPoolName(name, &reason)) {
            *error = record + ": " + reason;
            return false;
        }
        const std::string imagePath = (fs::path(poolDir) / name).string();
        Bytes image;
        if (!ReadWholeFile(imagePath, IMAGE_PACKAGE_FILE_MAX, &image, error)) {
            *error = record + ": " + *error;
            return false;
        }
        if (image.size() != static_cast<uint64_t>(walk.entries[i].size)) {
            *error = Quoted(imagePath) + " is " + std::to_string(image.size()) + " bytes, but " + record + " says " +
                     std::to_string(walk.entries[i].size);
            return false;
        }
        const int32_t imageCode = CheckStoredPackage(PACKAGE_IMAGE, image, PackageIdOfName(name), nullptr);
        if (imageCode != PACKAGE_OK) {
            *error = Quoted(imagePath) + " fails the image check: " + PackageResultName(imageCode);
            return false;
        }
    }
    return true;
}

// Why a statement failed the signature step: which key id it names, and
// whether that key was given at all.
std::string SignatureFinding(const Bytes& bytes, const std::vector<ReleaseKey>& keys)
{
    ReleaseStatement parsed;
    if (ParseStatement(bytes.data(), bytes.size(), &parsed) != STATEMENT_OK) return "";
    const std::string id = Hex(parsed.keyId, sizeof parsed.keyId);
    for (const ReleaseKey& key : keys) {
        if (std::equal(key.keyId, key.keyId + RELEASE_KEY_ID_LENGTH, parsed.keyId)) {
            return "; it names key id " + id + " and does not verify under that key";
        }
    }
    return "; it names key id " + id + ", which is none of the keys given (the signing key, --key PUB.pem)";
}

bool CheckStatementOf(const std::string& doorDir, const std::string& poolDir, const std::string& model,
                      const HeldCatalogue& catalogue, const std::vector<ReleaseKey>& keys, std::string* error)
{
    const std::string path = (fs::path(doorDir) / (model + ".Sig")).string();
    if (keys.empty()) {
        *error = Quoted(path) +
                 " is a signed statement, and no key to check it was given: give its public key "
                 "with --key PUB.pem";
        return false;
    }
    Bytes bytes;
    if (!ReadWholeFile(path, STATEMENT_FILE_MAX, &bytes, error)) return false;

    CatalogueFacts facts{};
    facts.length = static_cast<uint32_t>(catalogue.stored.size());
    if (!Sha256(catalogue.stored.data(), catalogue.stored.size(), facts.sha256)) {
        *error = "SHA-256 failed";
        return false;
    }
    facts.decoded = catalogue.plain.data();
    facts.capacity = catalogue.plain.size();
    ReleaseStatement statement;
    const int32_t code =
        CheckStatement(bytes.data(), bytes.size(), keys.data(), keys.size(), model.c_str(), facts, &statement);
    if (code != STATEMENT_OK) {
        *error = Quoted(path) + " fails the statement check: " + StatementResultName(code) + ": " +
                 StatementResultMeaning(code) + (code == STATEMENT_BAD_SIGNATURE ? SignatureFinding(bytes, keys) : "");
        return false;
    }
    // Each image as a client takes it: exactly the length and SHA-256 the
    // statement names (the catalogue check has vouched for the names).
    for (int32_t i = 0; i < statement.recordCount; ++i) {
        const StatementRecord& record = statement.records[i];
        if (record.size == 0) continue;  // the updater skips such a record
        const std::string imagePath = (fs::path(poolDir) / record.name).string();
        Bytes image;
        if (!ReadWholeFile(imagePath, IMAGE_PACKAGE_FILE_MAX, &image, error)) return false;
        if (!ImageMatchesStatement(statement, i, image.data(), static_cast<uint32_t>(image.size()))) {
            *error = Quoted(imagePath) + " is not the image " + Quoted(path) + " names: its " +
                     (image.size() != record.size ? "length" : "SHA-256") + " differs";
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
        HeldCatalogue catalogue;
        if (!CheckCatalogue(doorDir, poolDir, model, &catalogue, error)) return false;
        const bool hasStatement = std::binary_search(listing.statements.begin(), listing.statements.end(), model);
        if (hasStatement && !CheckStatementOf(doorDir, poolDir, model, catalogue, keys, error)) return false;
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
