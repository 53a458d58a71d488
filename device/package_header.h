#pragma once
// The 32-byte header every package file begins with. It sits below both the
// package check (update/) and the programming sequence (device/): the check
// vouches for it, the sequence takes the image's blocks and tail from it.
// Portable: no platform header.
#include <cstdint>

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
    const uint8_t* b = header.totalLength;
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}

inline uint16_t PackageFirstBlock(const PackageHeader& header)
{
    return static_cast<uint16_t>(header.firstBlock[0] << 8 | header.firstBlock[1]);
}

inline uint16_t PackageLastBlock(const PackageHeader& header)
{
    return static_cast<uint16_t>(header.lastBlock[0] << 8 | header.lastBlock[1]);
}
