#pragma once
// Shared body of the two package-check targets. Input: 4 id characters, the
// length argument (4 bytes, big-endian), then the package itself, which sits
// in a heap buffer of exactly its size so that any read past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "update/catalogue.h"
#include "update/package.h"

inline void FuzzCheckPackage(int mode, const uint8_t* data, size_t size)
{
    if (size < 8) return;
    char id[5] = {};
    std::memcpy(id, data, 4);
    const uint32_t length = ReadBigEndian32(data + 4);
    std::vector<uint8_t> buffer(data + 8, data + size);
    // An empty vector has no storage: stand in with null, as a failed allocation would.
    uint8_t* storage = buffer.empty() ? nullptr : buffer.data();

    const int32_t code = CheckPackage(mode, storage, length, id, buffer.size());
    if (code != PACKAGE_OK) return;

    PackageHeader header;
    std::memcpy(&header, storage, sizeof header);
    if (mode == PACKAGE_CATALOGUE) {
        // Identification's next steps on an accepted catalogue.
        if (header.status != CATALOGUE_STATUS_CURRENT) return;
        CatalogueWalk walk;
        if (WalkCatalogue(storage, buffer.size(), &walk) == CATALOGUE_OK) {
            ApplySkipRules(walk.entries, walk.count, walk.comparisonText, 0x1F, "A01");
        }
        return;
    }
    // What programming reads from an accepted image: every described byte
    // must lie inside the package.
    const uint64_t dataLength = PackageImageDataLength(header);
    if (header.tailPages > PAGES_PER_BLOCK || PACKAGE_HEADER_LENGTH + dataLength > buffer.size()) abort();
    volatile uint8_t sink = 0;
    for (uint64_t i = 0; i < dataLength; i += 97) sink = sink ^ storage[PACKAGE_HEADER_LENGTH + i];
    if (dataLength) sink = sink ^ storage[PACKAGE_HEADER_LENGTH + dataLength - 1];
}
