#include "tools/ruvo-pack/release_signer.h"

#include "update/server_layout.h"

bool MakeModelStatements(const ReleaseSigner& signer, uint64_t serial, const std::string& model,
                         const std::vector<uint8_t>& catalogue, const std::vector<StatementImage>& images,
                         std::vector<DoorFile>* files, std::string* error)
{
    std::vector<uint8_t> statement;
    const StatementTerms terms = {STATEMENT_FORMAT_2, serial, signer.expires};
    if (!MakeSignedStatement(signer.keyPaths, terms, model, catalogue, images, &statement, error)) return false;
    files->push_back({ServerFileName(ServerFile::STATEMENT2, model.c_str()), std::move(statement)});
    if (!signer.formatOneToo) return true;
    // Format 1 has one signature, no serial and no end.
    const StatementTerms first = {STATEMENT_FORMAT_1, 0, STATEMENT_NEVER_EXPIRES};
    if (!MakeSignedStatement({signer.keyPaths.front()}, first, model, catalogue, images, &statement, error))
        return false;
    files->push_back({ServerFileName(ServerFile::STATEMENT, model.c_str()), std::move(statement)});
    return true;
}
