#pragma once
// Byte-level helpers of the portable code: hex digits and big-endian numbers,
// as the package header, the catalogue records, the release statement and
// the device record store them. In the lowest layer, so the device code, the
// update code and the tools share one set; header-only, so the fuzz targets
// take it without a library.
#include <cstdint>

// '0'-'9' give 0-9, 'A'-'F' and 'a'-'f' give 10-15, anything else -1.
inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// As the skip rules read a version from a name: anything but a hex digit counts as 0.
inline uint8_t HexDigitValue(char c)
{
    const int digit = HexDigit(c);
    return static_cast<uint8_t>(digit < 0 ? 0 : digit);
}

inline uint16_t ReadBigEndian16(const uint8_t* bytes)
{
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline uint32_t ReadBigEndian32(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

inline uint64_t ReadBigEndian64(const uint8_t* bytes)
{
    return (uint64_t{ReadBigEndian32(bytes)} << 32) | ReadBigEndian32(bytes + 4);
}

inline void WriteBigEndian16(uint8_t* bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

inline void WriteBigEndian32(uint8_t* bytes, uint32_t value)
{
    for (int i = 3; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

inline void WriteBigEndian64(uint8_t* bytes, uint64_t value)
{
    WriteBigEndian32(bytes, static_cast<uint32_t>(value >> 32));
    WriteBigEndian32(bytes + 4, static_cast<uint32_t>(value));
}
