#pragma once
// The check a release's Door passes before it goes live (publish, refresh)
// or live again (rollback): the updater's own package check, record walk,
// statement check and image checks, run on every catalogue and every
// statement of the Door, as a client of any model would run them.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "update/release_statement.h"

// What a release must satisfy to go live besides the checks themselves.
struct ReleaseTrust {
    // Every statement in the Door must verify under these keys (the signing
    // keys' public halves, and the keys given with --key).
    std::vector<ReleaseKey> keys;
    // A model whose live release is signed may go live unsigned (--unsigned).
    bool allowUnsigned = false;
    // Models whose <model>.Sig2 this run signs, each by `signers` distinct
    // keys, every one of which must verify; any other statement needs one.
    std::vector<std::string> signedModels;
    int32_t signers = 1;
    // Held against each <model>.Sig2's expiry, as a client holds it.
    int64_t now = static_cast<int64_t>(std::time(nullptr));
};

// Checks the Door `doorDir` against the images in `poolDir`:
// - it holds regular files only (the tool's temporary files aside);
// - each catalogue <model>.Bin passes the package check and, when current,
//   the record walk; each record with a size names a Pool name whose file in
//   `poolDir` has that size and passes the image check under the name's id;
// - each statement <model>.Sig2 (format 2) and <model>.Sig (format 1)
//   belongs to a catalogue, passes the statement check of its format under
//   `trust` (a format-2 one before its expiry), and every image it names is,
//   byte for byte, the one it names.
// False with a message naming the file at fault.
bool CheckStagedRelease(const std::string& doorDir, const std::string& poolDir, const ReleaseTrust& trust,
                        std::string* error);

// Models with a statement of either format (<model>.Sig2 or <model>.Sig, a
// regular file) in `doorDir`, sorted.
std::vector<std::string> SignedModelsIn(const std::string& doorDir);
