#pragma once
// Reading a stored package without being told its id or kind.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "update/catalogue.h"

struct PackageIdentity {
    std::string id;  // recovered from the header
    int mode;        // PACKAGE_CATALOGUE or PACKAGE_IMAGE: the kind the check accepts, or the likelier one
    int32_t code;    // CheckPackage result for that id and mode
};

// The header's id is itself obfuscated with a key base that depends on it;
// only 64 bases exist, so each is tried and kept when the id it reveals has
// that very base. With `id` given, only that id is tried.
bool IdentifyPackage(const std::vector<uint8_t>& stored, const std::string& id, PackageIdentity* identity);

// Prints the decoded header, and the records of a catalogue or the layout of
// an image. Returns false when no id fits or the check refuses the package.
bool InspectPackage(const std::vector<uint8_t>& stored, const std::string& id, std::ostream& out);

// Runs CheckPackage on a copy held as the updater holds a download: a buffer
// 128 bytes larger than the file (at least a header), length = file size.
// `plain` receives the buffer afterwards, cut to the file's size.
int32_t CheckStoredPackage(int mode, const std::vector<uint8_t>& stored, const std::string& id,
                           std::vector<uint8_t>* plain);

// A stored catalogue of `model` as an updater reads it: the package check,
// then the record walk into `walk`. False with the failing step in `why`
// ("fails the catalogue check: …" or "fails the record walk: …").
bool ReadStoredCatalogue(const std::vector<uint8_t>& stored, const std::string& model, CatalogueWalk* walk,
                         std::string* why);

// Text of a catalogue status byte.
const char* CatalogueStatusMeaning(uint8_t status);
