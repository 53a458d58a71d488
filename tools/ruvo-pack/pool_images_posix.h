#pragma once
// The shared Pool of image packages: written without ever rewriting a
// published image, taken back after a failed publish, pruned after a swap.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <ostream>
#include <string>
#include <vector>

#include "tools/ruvo-pack/open_folder.h"
#include "tools/ruvo-pack/release_store.h"
#include "tools/ruvo-pack/server_folder_posix.h"

// Writes the release's images into Pool/: a name that exists with the same
// bytes is left alone, one with other bytes is refused unless `replace`.
// `created` receives the names this call added, so a failed publish can
// take them back.
int WritePoolImages(const Store& store, const PublishInput& input, const PublishOptions& options,
                    const std::vector<unsigned>& serials, std::ostream& out, std::vector<std::string>* created,
                    std::string* error);

// After a swap: drops all but the newest `keep` releases (never the live
// one), then the Pool images only dropped releases named. Images are removed
// in the open Pool folder by name, never through a path; when a recorded name
// is no Pool name nothing is pruned, and the line says why.
void PruneReleases(const Store& store, const COpenFolder& pool, unsigned live, unsigned keep, std::ostream& out);

// Drops the releases `dropped` (never the live one) and the Pool images
// only they named, as PruneReleases does; `why` ends each line.
void DropReleases(const Store& store, const COpenFolder& pool, unsigned live, const std::vector<unsigned>& dropped,
                  const std::string& why, std::ostream& out);

// Removes the Pool files a failed publish added.
void TakeBack(const COpenFolder& pool, const std::vector<std::string>& created);
