// The statement of a release and the check of a published release: the
// part that only needs the crypto interface, the same on every platform.
#include "signing.h"

#include <cstring>
#include <filesystem>

#include "files.h"
#include "package_reader.h"
#include "release.h"
#include "update/package.h"

bool MakeSignedStatement(const std::string& keyPemPath, const std::string& model, const std::vector<uint8_t>& catalogue,
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
    ReleaseStatement content{};
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

    // The key id goes into the signed bytes, so the key's public half is
    // needed first: taken from the private key that signs, so the id always
    // names the key that made the signature.
    uint8_t body[STATEMENT_MAX_LENGTH];
    uint8_t signature[P256_SIGNATURE_LENGTH];
    uint8_t point[P256_POINT_LENGTH], signer[P256_POINT_LENGTH];
    if (!LoadSigningKey(keyPemPath, point, error)) return false;
    if (!ReleaseKeyId(point, content.keyId)) {
        *error = "SHA-256 failed";
        return false;
    }
    const size_t length = WriteStatementBody(content, body);
    if (length == 0) {
        *error = "the statement cannot be written";
        return false;
    }
    if (!SignBody(keyPemPath, body, length, signature, signer, error)) return false;
    if (std::memcmp(signer, point, sizeof point) != 0) {
        *error = "\"" + keyPemPath + "\" changed while it was read";
        return false;
    }
    statement->assign(body, body + length);
    statement->insert(statement->end(), signature, signature + sizeof signature);
    return true;
}

namespace {

// Longer than any statement, so that a longer file is read and named as
// malformed rather than refused unread.
constexpr uint64_t STATEMENT_FILE_MAX = 64 * 1024;

}  // namespace

int VerifyRelease(const std::string& outDir, const std::string& model, const uint8_t (&point)[P256_POINT_LENGTH],
                  std::ostream& out)
{
    const std::filesystem::path root = std::filesystem::path(outDir) / "BRELM";
    const std::string cataloguePath = (root / "Door" / (model + ".Bin")).string();
    const std::string statementPath = (root / "Door" / (model + ".Sig")).string();
    std::vector<uint8_t> catalogue, statementBytes, plain;
    std::string error;
    if (!ReadWholeFile(cataloguePath, CATALOGUE_FILE_MAX, &catalogue, &error)) {
        out << "catalogue: " << error << "\n";
        return 1;
    }
    if (!ReadWholeFile(statementPath, STATEMENT_FILE_MAX, &statementBytes, &error)) {
        out << "statement: " << error << "\n";
        return 1;
    }

    // The catalogue as the updater holds it: hashed as stored, then checked.
    CatalogueFacts facts{};
    facts.length = static_cast<uint32_t>(catalogue.size());
    Sha256(catalogue.data(), catalogue.size(), facts.sha256);
    const int32_t packageCode = CheckStoredPackage(PACKAGE_CATALOGUE, catalogue, model, &plain);
    out << "catalogue " << cataloguePath << ": " << packageCode << " " << PackageResultName(packageCode) << "\n";
    if (packageCode != PACKAGE_OK) return 1;
    facts.decoded = plain.data();
    facts.capacity = plain.size();

    ReleaseKey key{};
    std::memcpy(key.point, point, sizeof key.point);
    ReleaseKeyId(point, key.keyId);
    ReleaseStatement statement;
    const int32_t code =
        CheckStatement(statementBytes.data(), statementBytes.size(), &key, 1, model.c_str(), facts, &statement);
    out << "statement " << statementPath << ": " << code << " " << StatementResultName(code) << ": "
        << StatementResultMeaning(code) << "\n";
    if (code != STATEMENT_OK) return 1;

    int failures = 0;
    for (int32_t i = 0; i < statement.recordCount; ++i) {
        const StatementRecord& record = statement.records[i];
        const std::string path = (root / "Pool" / record.name).string();
        std::vector<uint8_t> image;
        out << "image " << i << " " << record.name << ": ";
        if (!ReadWholeFile(path, IMAGE_PACKAGE_FILE_MAX, &image, &error)) {
            out << error << "\n";
            ++failures;
            continue;
        }
        if (!ImageMatchesStatement(statement, i, image.data(), static_cast<uint32_t>(image.size()))) {
            out << (image.size() != record.size ? "length differs from the statement's\n"
                                                : "SHA-256 differs from the statement's\n");
            ++failures;
            continue;
        }
        const int32_t imageCode = CheckStoredPackage(PACKAGE_IMAGE, image, PackageIdOfName(record.name), nullptr);
        out << (imageCode == PACKAGE_OK ? "ok" : PackageResultName(imageCode)) << "\n";
        if (imageCode != PACKAGE_OK) ++failures;
    }
    return failures;
}
