#pragma once
// The 32-byte header every package file begins with. It sits below both the
// package check (update/) and the programming sequence (device/): the check
// vouches for it, the sequence takes the image's blocks and tail from it,
// and the builder writes it. What the check tests (the two check bytes, the
// data an image header describes) is computed here once for all three.
// Portable: no platform header.
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"
#include "device/flash_geometry.h"

constexpr uint32_t PACKAGE_HEADER_LENGTH = 32;

// Multi-byte fields are big-endian, so they are kept as bytes; read and
// write them with the accessors below.
struct PackageHeader {
    uint8_t magic[8];  // "KOVRELIN", never obfuscated
    uint8_t xorCheck;  // XOR of bytes 10 .. totalLength-1
    uint8_t sumCheck;  // their sum modulo 256
    uint8_t status;    // catalogue: 2 current, 0/1 stale server, 3+ newer updater needed
    uint8_t unused11[5];
    uint8_t packageId[4];    // model id (catalogue) or image id
    uint8_t totalLength[4];  // whole file, header included
    uint8_t unused24[3];
    uint8_t tailPages;      // image: pages of data for the last block
    uint8_t firstBlock[2];  // image: first 4096-byte flash block
    uint8_t lastBlock[2];   // image: block that receives only the tail
};
static_assert(sizeof(PackageHeader) == PACKAGE_HEADER_LENGTH, "header is 32 packed bytes");

// The check bytes cover the file from the status byte on.
constexpr size_t PACKAGE_CHECKED_FROM = offsetof(PackageHeader, status);
static_assert(PACKAGE_CHECKED_FROM == 10, "the checks cover bytes 10 on");

inline uint32_t PackageTotalLength(const PackageHeader& header)
{
    return ReadBigEndian32(header.totalLength);
}

inline uint16_t PackageFirstBlock(const PackageHeader& header)
{
    return ReadBigEndian16(header.firstBlock);
}

inline uint16_t PackageLastBlock(const PackageHeader& header)
{
    return ReadBigEndian16(header.lastBlock);
}

inline void SetPackageTotalLength(PackageHeader& header, uint32_t length)
{
    WriteBigEndian32(header.totalLength, length);
}

inline void SetPackageFirstBlock(PackageHeader& header, uint16_t block)
{
    WriteBigEndian16(header.firstBlock, block);
}

inline void SetPackageLastBlock(PackageHeader& header, uint16_t block)
{
    WriteBigEndian16(header.lastBlock, block);
}

// Bytes of flash data an image header describes: (last - first) whole blocks
// plus the tail pages. 0 when the first block lies past the last.
inline uint64_t PackageImageDataLength(const PackageHeader& header)
{
    // Signed, so that a first block past the last one cannot wrap into a small length.
    const int64_t fullBlocks = int64_t{PackageLastBlock(header)} - int64_t{PackageFirstBlock(header)};
    if (fullBlocks < 0) return 0;
    return uint64_t(fullBlocks) * FLASH_BLOCK_SIZE + uint64_t{header.tailPages} * FLASH_PAGE_SIZE;
}

// The two check bytes of the plain (de-obfuscated) file package[0 .. length-1]:
// the XOR and the sum modulo 256 of bytes 10 .. length-1.
struct PackageChecks {
    uint8_t xorValue;
    uint8_t sumValue;
};

inline PackageChecks ComputePackageChecks(const uint8_t* package, size_t length)
{
    PackageChecks checks{0, 0};
    for (size_t i = PACKAGE_CHECKED_FROM; i < length; ++i) {
        checks.xorValue ^= package[i];
        checks.sumValue = static_cast<uint8_t>(checks.sumValue + package[i]);
    }
    return checks;
}
