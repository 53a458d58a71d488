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
#include "tools/ruvo-pack/statement_file.h"
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
    std::vector<std::string> catalogues, statements, statements2;  // model ids, sorted
    std::vector<std::string> irregular;                            // paths of entries that are no regular file
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
        if (name.size() < 8) continue;
        const std::string model = name.substr(0, 4), suffix = name.substr(4);
        if (suffix == ServerFileName(ServerFile::CATALOGUE, "")) listing->catalogues.push_back(model);
        if (suffix == ServerFileName(ServerFile::STATEMENT, "")) listing->statements.push_back(model);
        if (suffix == ServerFileName(ServerFile::STATEMENT2, "")) listing->statements2.push_back(model);
    }
    if (code) {
        *error = "cannot list " + Quoted(doorDir) + ": " + code.message();
        return false;
    }
    for (auto* models : {&listing->catalogues, &listing->statements, &listing->statements2})
        std::sort(models->begin(), models->end());
    return true;
}

bool Contains(const std::vector<std::string>& sorted, const std::string& model)
{
    return std::binary_search(sorted.begin(), sorted.end(), model);
}

// Why a statement failed the signature step: which key ids it names, and
// whether those keys were given at all.
std::string SignatureFinding(const Bytes& bytes, const StatementRule& rule, const std::vector<ReleaseKey>& keys)
{
    ReleaseStatement parsed;
    if (ParseStatement(bytes.data(), bytes.size(), rule.format, &parsed) != STATEMENT_OK) return "";
    std::string given, unknown;
    for (int32_t i = 0; i < parsed.signatureCount; ++i) {
        const uint8_t(&keyId)[RELEASE_KEY_ID_LENGTH] = parsed.signatures[i].keyId;
        const bool known = std::any_of(keys.begin(), keys.end(), [&](const ReleaseKey& key) {
            return std::equal(key.keyId, key.keyId + RELEASE_KEY_ID_LENGTH, keyId);
        });
        std::string& list = known ? given : unknown;
        list += (list.empty() ? "" : ", ") + Hex(keyId, sizeof keyId);
    }
    std::string finding = "; " + std::to_string(rule.threshold) + " distinct signature" +
                          (rule.threshold == 1 ? " must" : "s must") + " verify";
    if (!given.empty()) finding += "; key id " + given + " is given and does not verify, or signs twice";
    if (!unknown.empty())
        finding += "; key id " + unknown + " is none of the keys given (the signing keys, --key PUB.pem)";
    return finding;
}

// What the publisher does about a statement that the check refuses.
std::string StatementFinding(const CFolderReleaseSource& release, const StatementRule& rule, int32_t code,
                             const std::vector<ReleaseKey>& keys, const std::string& model)
{
    std::string finding = Quoted(release.StatementPath()) + " fails the statement check: " + StatementResultName(code) +
                          ": " + StatementResultMeaning(code);
    if (code == STATEMENT_BAD_SIGNATURE) finding += SignatureFinding(release.StatementBytes(), rule, keys);
    if (code == STATEMENT_EXPIRED) {
        const ReleaseStatement& statement = release.Statement();
        finding += " (" + TermsText(statement.serial, statement.expires) +
                   "): signed updaters refuse it; re-sign it with 'ruvo-pack refresh OUTDIR --model " + model +
                   " --sign KEY.pem (--expires DAYS | --no-expiry)'";
    }
    return finding;
}

// One model's catalogue, one of its statements when it has one (`rule`,
// null: none), and every image a client may fetch, accepted as a client
// accepts them (update/release_acceptance.h), with the publisher's words for
// what fails.
bool CheckModel(const std::string& doorDir, const std::string& poolDir, const std::string& model,
                const StatementRule* rule, const std::vector<ReleaseKey>& keys, std::string* error)
{
    CFolderReleaseSource release(doorDir, poolDir, model, keys, rule ? *rule : StatementRule());
    const std::string path = release.Path(ServerFile::CATALOGUE, model.c_str());
    const std::string statementPath = release.StatementPath();
    if (rule != nullptr && keys.empty()) {
        *error = Quoted(statementPath) +
                 " is a signed statement, and no key to check it was given: give its public key "
                 "with --key PUB.pem";
        return false;
    }
    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    CatalogueWalk walk;
    const CStatementSigning signing(&release.Statement(), nullptr, nullptr, 0);
    const CReleaseSigning* checks = rule != nullptr ? &signing : nullptr;
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
        *error = release.Error().empty() ? StatementFinding(release, *rule, result.code, keys, model) : release.Error();
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

bool CheckStagedRelease(const std::string& doorDir, const std::string& poolDir, const ReleaseTrust& trust,
                        std::string* error)
{
    DoorListing listing;
    if (!ListDoor(doorDir, &listing, error)) return false;
    if (!listing.irregular.empty()) {
        *error = Quoted(listing.irregular.front()) + " is not a regular file, and a Door holds regular files only";
        return false;
    }
    for (const ServerFile file : {ServerFile::STATEMENT2, ServerFile::STATEMENT}) {
        for (const std::string& model : file == ServerFile::STATEMENT ? listing.statements : listing.statements2) {
            if (Contains(listing.catalogues, model)) continue;
            *error = Quoted((fs::path(doorDir) / ServerFileName(file, model.c_str())).string()) +
                     " is a statement without its catalogue " + ServerFileName(ServerFile::CATALOGUE, model.c_str());
            return false;
        }
    }
    for (const std::string& model : listing.catalogues) {
        // Each statement as the clients of its format read it: format 2 by
        // every updater that knows it, format 1 by exes already deployed.
        const bool signedHere =
            std::find(trust.signedModels.begin(), trust.signedModels.end(), model) != trust.signedModels.end();
        const StatementRule second = {ServerFile::STATEMENT2, STATEMENT_FORMAT_2, signedHere ? trust.signers : 1,
                                      trust.now};
        const StatementRule first = {ServerFile::STATEMENT, STATEMENT_FORMAT_1, 1, trust.now};
        const bool has2 = Contains(listing.statements2, model), has1 = Contains(listing.statements, model);
        if (has2 && !CheckModel(doorDir, poolDir, model, &second, trust.keys, error)) return false;
        if (has1 && !CheckModel(doorDir, poolDir, model, &first, trust.keys, error)) return false;
        if (!has1 && !has2 && !CheckModel(doorDir, poolDir, model, nullptr, trust.keys, error)) return false;
    }
    return true;
}

std::vector<std::string> SignedModelsIn(const std::string& doorDir)
{
    DoorListing listing;
    std::string ignored;
    ListDoor(doorDir, &listing, &ignored);
    std::vector<std::string> models = listing.statements;
    models.insert(models.end(), listing.statements2.begin(), listing.statements2.end());
    std::sort(models.begin(), models.end());
    models.erase(std::unique(models.begin(), models.end()), models.end());
    return models;
}
