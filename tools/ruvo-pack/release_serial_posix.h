#pragma once
// The number of the next release, which is also the serial of the statements
// it signs.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <string>
#include <vector>

#include "tools/ruvo-pack/server_folder_posix.h"

// Folder names have at most 9 digits.
constexpr unsigned MAX_RELEASE_SERIAL = 999999999;

// One more than the largest of: the newest release folder's number, and the
// serial of each format-2 statement of `models` in the live Door and in every
// kept release. Clients remember the highest serial they accepted per model,
// so a serial that went back would be refused; counting the statements as
// well as the folders keeps it rising in an OUTDIR restored from a backup,
// whose folders were emptied, or whose old releases were deleted. A
// statement whose layout cannot be read was never accepted by a client and
// counts as none. False (with the reason) past MAX_RELEASE_SERIAL.
bool NextReleaseSerial(const Store& store, const std::vector<std::string>& models, unsigned* serial,
                       std::string* error);
