// The statement of a release and the check of a published release: the
// part that only needs the crypto interface, the same on every platform.
#include "tools/ruvo-pack/signing.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/folder_release_source.h"
#include "tools/ruvo-pack/statement_file.h"
#include "update/buffer_sizes.h"
#include "update/package.h"
#include "update/release_signing.h"

bool MakeSignedStatement(const std::vector<std::string>& keyPemPaths, const StatementTerms& terms,
                         const std::string& model, const std::vector<uint8_t>& catalogue,
                         const std::vector<StatementImage>& images, std::vector<uint8_t>* statement, std::string* error)
{
    if (model.size() != 4) {
        *error = "the model id has four characters";
        return false;
    }
    if (images.size() > STATEMENT_MAX_RECORDS) {
        *error = "a statement holds at most 8 records";
        return false;
    }
    const size_t most = terms.format == STATEMENT_FORMAT_1 ? 1 : STATEMENT_MAX_SIGNATURES;
    if (keyPemPaths.empty() || keyPemPaths.size() > most) {
        *error = "a statement of format " + std::to_string(terms.format) + " is signed by 1 to " +
                 std::to_string(most) + (most == 1 ? " key" : " keys");
        return false;
    }
    ReleaseStatement content{};
    content.format = terms.format;
    content.serial = terms.format == STATEMENT_FORMAT_1 ? 0 : terms.serial;
    content.expires = terms.expires;
    content.signatureCount = static_cast<int32_t>(keyPemPaths.size());
    std::memcpy(content.modelId, model.data(), 4);
    content.catalogueLength = static_cast<uint32_t>(catalogue.size());
    content.recordCount = static_cast<int32_t>(images.size());
    bool hashed = Sha256(catalogue.data(), catalogue.size(), content.catalogueSha256);
    for (size_t i = 0; i < images.size(); ++i) {
        StatementRecord& record = content.records[i];
        if (images[i].name.size() >= STATEMENT_NAME_FIELD) {
            *error = "record name \"" + images[i].name + "\" is too long for a statement";
            return false;
        }
        std::memcpy(record.name, images[i].name.data(), images[i].name.size());
        record.size = static_cast<uint32_t>(images[i].package->size());
        hashed = hashed && Sha256(images[i].package->data(), images[i].package->size(), record.sha256);
    }
    if (!hashed) {
        *error = "SHA-256 failed";
        return false;
    }

    // Format 1 signs its key id, so every key's public half is needed before
    // anything is signed: each taken from the private key that signs, so an
    // id always names the key that made its signature.
    uint8_t points[STATEMENT_MAX_SIGNATURES][P256_POINT_LENGTH];
    for (size_t k = 0; k < keyPemPaths.size(); ++k) {
        if (!LoadSigningKey(keyPemPaths[k], points[k], error)) return false;
        if (!ReleaseKeyId(points[k], content.signatures[k].keyId)) {
            *error = "SHA-256 failed";
            return false;
        }
        for (size_t earlier = 0; earlier < k; ++earlier)
            if (std::memcmp(points[earlier], points[k], P256_POINT_LENGTH) == 0) {
                *error = "\"" + keyPemPaths[k] + "\" is the same key as \"" + keyPemPaths[earlier] +
                         "\": a key that signs twice counts once";
                return false;
            }
    }
    uint8_t body[STATEMENT_MAX_LENGTH];
    const size_t length = WriteStatementBody(content, body);
    if (length == 0) {
        *error = "the statement cannot be written";
        return false;
    }
    for (size_t k = 0; k < keyPemPaths.size(); ++k) {
        uint8_t signer[P256_POINT_LENGTH];
        if (!SignBody(keyPemPaths[k], body, length, content.signatures[k].signature, signer, error)) return false;
        if (std::memcmp(signer, points[k], P256_POINT_LENGTH) != 0) {
            *error = "\"" + keyPemPaths[k] + "\" changed while it was read";
            return false;
        }
    }
    const size_t whole = WriteStatementSignatures(content, length, body);
    if (whole == 0) {
        *error = "the statement cannot be written";
        return false;
    }
    statement->assign(body, body + whole);
    return true;
}

int VerifyRelease(const std::string& outDir, const std::string& model, const std::vector<ReleaseKey>& keys,
                  int32_t threshold, int64_t now, std::ostream& out)
{
    const std::filesystem::path root = std::filesystem::path(outDir) / "BRELM";
    const StatementRule rule = {ServerFile::STATEMENT2, STATEMENT_FORMAT_2, threshold, now};
    CFolderReleaseSource release((root / "Door").string(), (root / "Pool").string(), model, keys, rule);
    const std::string cataloguePath = release.Path(ServerFile::CATALOGUE, model.c_str());
    const std::string statementPath = release.StatementPath();

    // The catalogue and its statement as a signed updater accepts them.
    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    CatalogueWalk walk;
    const CStatementSigning signing(&release.Statement(), nullptr, nullptr, 0);
    const ReleaseResult result = AcceptCatalogue(release, model.c_str(), nullptr, &signing, buffer.data(), &walk);
    if (result.verdict == ReleaseVerdict::NOT_FETCHED) {
        out << "catalogue: " << release.Error() << "\n";
        return 1;
    }
    const int32_t packageCode = result.verdict == ReleaseVerdict::CATALOGUE_REFUSED ? result.code : PACKAGE_OK;
    out << "catalogue " << cataloguePath << ": " << packageCode << " "
        << (packageCode <= CATALOGUE_NO_BUFFER ? CatalogueResultName(packageCode) : PackageResultName(packageCode))
        << "\n";
    if (packageCode != PACKAGE_OK) return 1;
    const int32_t code = result.verdict == ReleaseVerdict::STATEMENT_REFUSED ? result.code : STATEMENT_OK;
    if (code != STATEMENT_OK && !release.Error().empty()) {
        out << "statement: " << release.Error() << "\n";
        return 1;
    }
    out << "statement " << statementPath << ": " << code << " " << StatementResultName(code) << ": "
        << StatementResultMeaning(code) << "\n";
    // The layout was read whenever a later check failed.
    const ReleaseStatement& terms = release.Statement();
    if (terms.serial != 0) out << TermsText(terms.serial, terms.expires) << "\n";
    if (code != STATEMENT_OK) return 1;
    // A catalogue that turns clients away still names its images.
    if (result.verdict == ReleaseVerdict::CATALOGUE_STALE || result.verdict == ReleaseVerdict::UPDATER_OUTDATED)
        out << "catalogue status " << result.code << ": " << CatalogueStatusMeaning(uint8_t(result.code)) << "\n";

    // Every image the statement names, as a signed updater accepts it.
    int failures = 0;
    const ReleaseStatement& statement = release.Statement();
    for (int32_t i = 0; i < statement.recordCount; ++i) {
        const StatementRecord& record = statement.records[i];
        CatalogueEntry entry{};
        std::snprintf(entry.name, sizeof entry.name, "%s", record.name);
        entry.size = static_cast<int32_t>(record.size);
        out << "image " << i << " " << record.name << ": ";
        std::vector<uint8_t> image;
        uint32_t length = 0;
        uint64_t fileSize = 0;
        if (!release.FetchImage(entry.name, entry.size, &image, &length, &fileSize)) {
            out << release.Error() << "\n";
            ++failures;
            continue;
        }
        const ReleaseResult accepted =
            AcceptImage(&signing, i, entry, image.data(), length, static_cast<uint32_t>(image.size()));
        if (accepted.verdict == ReleaseVerdict::IMAGE_NOT_SIGNED)
            out << (fileSize != record.size ? "length differs from the statement's\n"
                                          : "SHA-256 differs from the statement's\n");
        else
            out << (accepted.verdict == ReleaseVerdict::ACCEPTED ? "ok" : PackageResultName(accepted.code)) << "\n";
        if (accepted.verdict != ReleaseVerdict::ACCEPTED) ++failures;
    }
    return failures;
}
