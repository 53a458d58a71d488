#pragma once
// The check a release's Door passes before it goes live (publish) or live
// again (rollback): the updater's own package check, record walk, statement
// check and image checks, run on every catalogue and every statement of the
// Door, as a client of any model would run them.
#include <string>
#include <vector>

#include "update/release_statement.h"

// What a release must satisfy to go live besides the checks themselves.
struct ReleaseTrust {
    // Every statement in the Door must verify under one of these keys (the
    // signing key's public half, and the keys given with --key).
    std::vector<ReleaseKey> keys;
    // A model whose live release is signed may go live unsigned (--unsigned).
    bool allowUnsigned = false;
};

// Checks the Door `doorDir` against the images in `poolDir`:
// - it holds regular files only (the tool's temporary files aside);
// - each catalogue <model>.Bin passes the package check and, when current,
//   the record walk; each record with a size names a Pool name whose file in
//   `poolDir` has that size and passes the image check under the name's id;
// - each statement <model>.Sig belongs to a catalogue, passes the statement
//   check under one of `keys`, and every image it names is, byte for byte,
//   the one it names.
// False with a message naming the file at fault.
bool CheckStagedRelease(const std::string& doorDir, const std::string& poolDir, const std::vector<ReleaseKey>& keys,
                        std::string* error);

// Models whose statement (<model>.Sig, a regular file) `doorDir` holds.
std::vector<std::string> SignedModelsIn(const std::string& doorDir);
