// Decoding of the 16-byte device information record and the hex digits.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/bytes.h"
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

// The model id from the record, as decoded, against the rule that lets it
// into a URL: each boundary of the character classes, and ids that would
// change the URL's path or query.
TEST(DeviceInfo, ModelIdFollowsTheIdRuleOrNot)
{
    const struct {
        uint8_t id[4];
        bool follows;
    } cases[] = {
        {{'R', '1', '0', '0'}, true},   {{'A', 'Z', 'a', 'z'}, true},    {{'0', '9', '.', '_'}, true},
        {{'-', '-', '-', '-'}, true},   {{'R', '1', '0', 0}, false},     {{0, 0, 0, 0}, false},
        {{0x1B, '[', '2', 'J'}, false}, {{'R', '/', '.', '.'}, false},   {{'R', '1', '?', 'a'}, false},
        {{'R', '1', '%', '0'}, false},  {{'R', ' ', '0', '0'}, false},   {{'@', '[', '`', '{'}, false},
        {{'/', ':', '^', '~'}, false},  {{'R', 0xC3, 0xA9, '0'}, false}, {{'R', 0x9B, '0', '0'}, false},
    };
    for (const auto& c : cases) {
        uint8_t record[DEVICE_INFO_SIZE] = {};
        for (int i = 0; i < 4; ++i) record[12 + i] = c.id[i];
        EXPECT_EQ(FollowsIdRule(DecodeDeviceInfo(record).modelId), c.follows)
            << int(c.id[0]) << " " << int(c.id[1]) << " " << int(c.id[2]) << " " << int(c.id[3]);
    }
}

// HexDigit tells a non-digit apart (-1); HexDigitValue, as the skip rules
// read a name, takes it as 0.
TEST(HexDigit, DigitsAndBothCasesOfAToF)
{
    const struct {
        char c;
        int digit;
    } cases[] = {{'0', 0},  {'9', 9},  {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15},  {'G', -1},
                 {'g', -1}, {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {'\0', -1}, {'\xC1', -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(HexDigit(c.c), c.digit) << int(c.c);
        EXPECT_EQ(HexDigitValue(c.c), c.digit < 0 ? 0 : c.digit) << int(c.c);
    }
}

}  // namespace
