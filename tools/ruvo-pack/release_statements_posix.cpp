#include "tools/ruvo-pack/release_statements_posix.h"

#include <filesystem>

#include "common/quoted.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/release_record_posix.h"
#include "tools/ruvo-pack/statement_file.h"
#include "update/catalogue.h"
#include "update/package.h"
#include "update/server_layout.h"

namespace fs = std::filesystem;

bool ResignModel(const ReleaseSigner& signer, uint64_t serial, const COpenFolder& door, const COpenFolder& pool,
                 const std::string& model, std::vector<DoorFile>* files, std::string* error)
{
    const std::string name = ServerFileName(ServerFile::CATALOGUE, model.c_str());
    std::vector<uint8_t> catalogue;
    if (!door.ReadFile(name, CATALOGUE_FILE_MAX, &catalogue, error)) return false;
    const std::string where = Quoted(door.PathOf(name)) + " cannot be signed: ";
    CatalogueWalk walk;
    std::string why;
    if (!ReadStoredCatalogue(catalogue, model, &walk, &why)) {
        *error = where + "it " + why;
        return false;
    }
    // A statement names every record's image by its bytes in the Pool.
    std::vector<std::vector<uint8_t>> packages(static_cast<size_t>(walk.count));
    std::vector<StatementImage> images;
    for (int32_t i = 0; i < walk.count; ++i) {
        const std::string image = walk.entries[i].name;
        std::string reason;
        if (!CheckNameFrom(image, door.PathOf(name), error) ||
            !pool.ReadFile(image, IMAGE_PACKAGE_FILE_MAX, &packages[i], &reason)) {
            if (!reason.empty()) *error = where + "record " + std::to_string(i) + ": " + reason;
            return false;
        }
        images.push_back({image, &packages[i]});
    }
    return MakeModelStatements(signer, serial, model, catalogue, images, files, error);
}

ReleaseTrust TrustWithSigner(const ReleaseTrust& trust, const ReleaseSigner& signer,
                             const std::vector<std::string>& models)
{
    ReleaseTrust result = trust;
    if (!signer.Active()) return result;
    result.keys.insert(result.keys.end(), signer.keys.begin(), signer.keys.end());
    result.signedModels = models;
    result.signers = static_cast<int32_t>(signer.keys.size());
    return result;
}

void PrintStatements(const Store& store, const std::vector<DoorFile>& files, std::ostream& out)
{
    for (const DoorFile& file : files) {
        const std::string path = (fs::path(store.door) / file.first).string();
        const std::string model = file.first.substr(0, 4);
        ReleaseStatement statement;
        if (file.first == ServerFileName(ServerFile::STATEMENT2, model.c_str()) &&
            ParseStatement(file.second.data(), file.second.size(), STATEMENT_FORMAT_2, &statement) == STATEMENT_OK) {
            out << path << ": release statement (format 2), " << TermsText(statement.serial, statement.expires) << ", "
                << statement.signatureCount << (statement.signatureCount == 1 ? " signature, " : " signatures, ")
                << file.second.size() << " bytes\n";
        } else if (file.first == ServerFileName(ServerFile::STATEMENT, model.c_str())) {
            out << path << ": release statement (format 1), " << file.second.size() << " bytes\n";
        }
    }
}

std::string StatementsSummary(const std::string& doorDir, const std::string& model)
{
    const DoorStatementTerms terms = ReadStatementTerms(doorDir, model);
    const bool first = HasFormat1Statement(doorDir, model);
    if (!terms.present) return model + " format 1 only";
    std::string text = model + " " + (terms.readable ? TermsText(terms.serial, terms.expires) : "statement unreadable");
    return first ? text + " (and format 1)" : text;
}
