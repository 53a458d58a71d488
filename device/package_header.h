#pragma once
// The 32-byte header every package file begins with. It sits below both the
// package check (update/) and the programming sequence (device/): the check
// vouches for it, the sequence takes the image's blocks and tail from it.
// Portable: no platform header.
#include <cstdint>

#include "common/bytes.h"

constexpr uint32_t PACKAGE_HEADER_LENGTH = 32;

// Multi-byte fields are big-endian, so they are kept as bytes; read them with
// the accessors below.
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
