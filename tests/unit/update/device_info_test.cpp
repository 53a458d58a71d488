// Decoding of the 16-byte device information record and the hex helpers.
#include <gtest/gtest.h>

#include <cstdint>

#include "update/device_info.h"

namespace {

TEST(DeviceInfo, DecodesEveryField)
{
    const uint8_t record[DEVICE_INFO_SIZE] = {0x21, 0x03, 0x0A, 0x1F, 'A', '0', '1', 2,
                                              0xEE, 0xEE, 0xEE, 0xEE, 'M', '0', '1', 'A'};
    const DeviceInfo info = DecodeDeviceInfo(record);
    EXPECT_STREQ(info.versionText, "13A0");  // high half of byte 0 dropped; 0x1F shows '0'
    EXPECT_EQ(info.deviceVersion, 0x21);
    EXPECT_STREQ(info.deviceSecondVersion, "A01");
    EXPECT_EQ(info.updaterLevel, 2);
    EXPECT_STREQ(info.modelId, "M01A");
}

TEST(DeviceInfo, VersionTextShowsOneDigitPerValue)
{
    const struct {
        uint8_t bytes[4];
        const char* text;
        int32_t version;
    } cases[] = {
        {{0x00, 0x00, 0x00, 0x00}, "0000", 0},
        {{0xFF, 0x0F, 0x10, 0xFF}, "FF00", 255},  // version zero-extended, not -1
        {{0x9A, 0x09, 0x0B, 0x0C}, "A9BC", 0x9A},
        {{0x10, 0x80, 0x11, 0x0E}, "000E", 0x10},
    };
    for (const auto& c : cases) {
        uint8_t record[DEVICE_INFO_SIZE] = {};
        for (int i = 0; i < 4; ++i) record[i] = c.bytes[i];
        const DeviceInfo info = DecodeDeviceInfo(record);
        EXPECT_STREQ(info.versionText, c.text);
        EXPECT_EQ(info.deviceVersion, c.version);
    }
}

TEST(HexDigitValue, DigitsAndBothCasesOfAToF)
{
    const struct {
        char c;
        uint8_t value;
    } cases[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15}, {'G', 0},
                 {'g', 0}, {'/', 0}, {':', 0},  {'@', 0},  {'`', 0},  {'\0', 0}, {'\xC1', 0}};
    for (const auto& c : cases) EXPECT_EQ(HexDigitValue(c.c), c.value) << int(c.c);
}

}  // namespace
