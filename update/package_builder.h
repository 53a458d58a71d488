#pragma once
// Making packages in their stored form: the publisher tool and the tests use
// this; the updater itself only checks packages.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/package.h"  // PackageHeader with its accessors, and common/bytes.h

struct ImageLayout {
    uint16_t firstBlock;
    uint16_t lastBlock;
    uint8_t tailPages;
};

struct CatalogueRecordInput {
    std::string name;            // at most 31 characters, no 0 byte
    uint32_t size;               // length of the image package file
    std::u16string description;  // at most 36 UTF-16 code units
};

// Writes xorCheck and sumCheck for the plain bytes 10 .. length-1.
void SetPackageChecks(uint8_t* package, size_t length);

// Turns a plain package (header fields other than magic, id, length and checks
// already set, body in place) into its stored form: writes the magic, the id,
// totalLength = package.size(), both checks, then obfuscates for `mode`.
// The package must hold at least the 32-byte header.
void SealPackage(int mode, std::vector<uint8_t>& package, const char* id);

// Layout of `dataLength` bytes of firmware starting at `firstBlock`. The tail
// is always 1 to 16 pages, so the last block erased always receives data and
// no block outside the image is wiped. False if empty or past the flash.
bool PlanImageLayout(uint32_t firstBlock, size_t dataLength, ImageLayout* layout, std::string* error);

// Image package for `firmware` at `firstBlock`, last page padded with 0xFF
// (the value of erased flash).
bool BuildImagePackage(const char* id, uint32_t firstBlock, const std::vector<uint8_t>& firmware,
                       std::vector<uint8_t>* package, std::string* error);

// Body of one catalogue record, appended without any limit test (the tests
// use it to make malformed catalogues too).
void AppendCatalogueRecord(std::vector<uint8_t>& body, const std::string& name, uint32_t size,
                           const std::u16string& description);

// Catalogue package for model `id`, refusing what the updater's walk would
// refuse (too many records, long names or descriptions, a file over 2048 bytes).
bool BuildCataloguePackage(const char* id, uint8_t status, const std::vector<CatalogueRecordInput>& records,
                           std::vector<uint8_t>* package, std::string* error);
