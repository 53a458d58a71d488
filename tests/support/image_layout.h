#pragma once
// Plain image packages of a given layout for the programming tests: the
// header's blocks and tail, then data bytes that differ from block to block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/flash_geometry.h"
#include "device/package_header.h"

struct Layout {
    uint16_t first;
    uint16_t last;
    uint8_t tail;
};

inline uint8_t ImageByte(size_t i)
{
    return static_cast<uint8_t>((i * 13) ^ (i >> 9));
}

// (last - first) whole blocks and the tail pages.
inline size_t DataLength(const Layout& layout)
{
    return size_t(layout.last - layout.first) * FLASH_BLOCK_SIZE + layout.tail * FLASH_PAGE_SIZE;
}

// Only what the programming sequence reads: the header's blocks and tail,
// then the data. Not sealed.
inline std::vector<uint8_t> PlainImagePackage(const Layout& layout)
{
    std::vector<uint8_t> package(PACKAGE_HEADER_LENGTH + DataLength(layout));
    for (size_t i = 0; i < DataLength(layout); ++i) package[PACKAGE_HEADER_LENGTH + i] = ImageByte(i);
    auto* header = reinterpret_cast<PackageHeader*>(package.data());
    header->tailPages = layout.tail;
    WriteBigEndian16(header->firstBlock, layout.first);
    WriteBigEndian16(header->lastBlock, layout.last);
    return package;
}
