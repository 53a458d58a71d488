// Big-endian fields as the package header, the catalogue and the release
// statement store them: most significant byte first, and back again.
#include "common/bytes.h"

#include <gtest/gtest.h>

namespace {

TEST(BigEndian, MostSignificantByteFirstBothWays)
{
    const uint8_t stored[4] = {0x81, 0x02, 0xA3, 0x04};
    EXPECT_EQ(ReadBigEndian16(stored), 0x8102);
    EXPECT_EQ(ReadBigEndian32(stored), 0x8102A304u);

    const uint32_t values[] = {0, 1, 0x8102A304u, 0xFFFFFFFFu};
    for (uint32_t value : values) {
        uint8_t bytes[4] = {};
        WriteBigEndian32(bytes, value);
        EXPECT_EQ(bytes[0], value >> 24);
        EXPECT_EQ(bytes[3], value & 0xFF);
        EXPECT_EQ(ReadBigEndian32(bytes), value);

        uint8_t half[3] = {0, 0, 0x5A};  // the byte after the field stays as it was
        WriteBigEndian16(half, static_cast<uint16_t>(value));
        EXPECT_EQ(ReadBigEndian16(half), static_cast<uint16_t>(value));
        EXPECT_EQ(half[2], 0x5A);
    }
}

}  // namespace
