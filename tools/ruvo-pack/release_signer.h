#pragma once
// Who signs a release's statements, until when and in which formats, and the
// statements of one model made with it. A publish signs the files it built;
// refresh and rollback sign files already in a Door and the Pool
// (resigned_release_posix.h).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/ruvo-pack/signing.h"
#include "update/release_statement.h"

// A file of a release's Door: name and content.
using DoorFile = std::pair<std::string, std::vector<uint8_t>>;

struct ReleaseSigner {
    std::vector<std::string> keyPaths;  // private keys in signing order, 1 to 3 distinct pairs; empty: no signing
    std::vector<ReleaseKey> keys;       // their public halves, in the same order
    uint64_t expires = STATEMENT_NEVER_EXPIRES;
    bool formatOneToo = false;  // also <model>.Sig, format 1, signed by the first key, for exes already deployed

    bool Active() const { return !keyPaths.empty(); }
};

// Appends <model>.Sig2 (format 2, `serial`, the signer's expiry, signed by
// every key) and, when the signer asks for it, <model>.Sig (format 1) to
// `files`. `images` in catalogue order.
bool MakeModelStatements(const ReleaseSigner& signer, uint64_t serial, const std::string& model,
                         const std::vector<uint8_t>& catalogue, const std::vector<StatementImage>& images,
                         std::vector<DoorFile>* files, std::string* error);
