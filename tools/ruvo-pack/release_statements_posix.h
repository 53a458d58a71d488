#pragma once
// The statements of a release in the store: signing a model that a Door
// already serves (refresh, rollback), the keys and thresholds the staged
// check holds them to, and how they are reported.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/ruvo-pack/open_folder.h"
#include "tools/ruvo-pack/release_check.h"
#include "tools/ruvo-pack/release_signer.h"
#include "tools/ruvo-pack/server_folder_posix.h"

// Appends the statements of `model` as the Door `door` serves it (its
// catalogue, and each record's image from `pool`), signed under `serial`.
// Files are read in the open folders, never through a link.
bool ResignModel(const ReleaseSigner& signer, uint64_t serial, const COpenFolder& door, const COpenFolder& pool,
                 const std::string& model, std::vector<DoorFile>* files, std::string* error);

// `trust` with the signer's public keys added, and `models` (which the signer
// signs) held to every one of its signatures.
ReleaseTrust TrustWithSigner(const ReleaseTrust& trust, const ReleaseSigner& signer,
                             const std::vector<std::string>& models);

// One line per statement among `files`, as the live Door now serves it.
void PrintStatements(const Store& store, const std::vector<DoorFile>& files, std::ostream& out);

// What a Door holds of a model's statements, for `releases`:
// "M01A serial 4, expires 2027-01-10T00:47:12Z (and format 1)".
std::string StatementsSummary(const std::string& doorDir, const std::string& model);
