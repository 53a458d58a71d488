#include "device/command_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const CommandBlock& block)
{
    return std::vector<uint8_t>(block.bytes, block.bytes + COMMAND_BLOCK_SIZE);
}

TEST(CommandBlock, WorkedBlocksByteForByte)
{
    struct Case {
        uint8_t opcode;
        uint32_t argument1, argument2, checksum;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {CMD_READ,
         DEVICE_INFO_PAGE,
         1,
         1164,
         {0xD2, 0x0E, 0xEF, 0x1F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x69, 0xE3, 0xBE, 0x93, 0x8C, 0x04, 0x00, 0x00}},
        {CMD_ERASE,
         5,
         1,
         802,
         {0x71, 0x0E, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x69, 0xE3, 0xBE, 0x93, 0x22, 0x03, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        CommandBlock block;
        std::memset(block.bytes, 0xAA, sizeof block.bytes);  // every byte must be written
        FillCommandBlock(block, c.opcode, c.argument1, c.argument2);
        EXPECT_EQ(Bytes(block), c.bytes);
        EXPECT_EQ(CommandChecksum(block), c.checksum);
    }
}

// The sum runs over unsigned bytes and includes the signature (669).
TEST(CommandBlock, ChecksumIsTheUnsignedByteSumIncludingSignature)
{
    const struct {
        uint8_t opcode;
        uint32_t argument1, argument2;
    } cases[] = {
        {CMD_TEST, TEST_BEGIN_IMAGE, 3},
        {CMD_TEST, TEST_FINISH, TEST_FINISH},
        {CMD_WRITE, 0xFFFFFFFF, 0xFFFFFFFF},
        {CMD_READ, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t expected = c.opcode + 14u + 669u;
        for (int shift = 0; shift < 32; shift += 8)
            expected += (c.argument1 >> shift & 0xFF) + (c.argument2 >> shift & 0xFF);
        CommandBlock block;
        FillCommandBlock(block, c.opcode, c.argument1, c.argument2);
        EXPECT_EQ(LoadLe32(block.bytes + COMMAND_OFFSET_CHECKSUM), expected) << std::hex << c.argument1;
    }
}

TEST(CommandBlock, CommandReportLayout)
{
    CommandBlock block;
    FillCommandBlock(block, CMD_WRITE, 80, 16);
    uint8_t report[REPORT_SIZE];
    std::memset(report, 0x11, sizeof report);
    BuildCommandReport(block, report);
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(0, std::memcmp(report + 1, block.bytes, COMMAND_BLOCK_SIZE));
    for (size_t i = 1 + COMMAND_BLOCK_SIZE; i < REPORT_SIZE; ++i) EXPECT_EQ(report[i], 0xCC) << "byte " << i;
}

TEST(CommandBlock, ParseAcceptsWhatFillBuildsAndNamesEachDefect)
{
    CommandBlock good;
    FillCommandBlock(good, CMD_ERASE, 511, 1);
    ParsedCommand parsed;
    ASSERT_EQ(ParseCommandBlock(good.bytes, parsed), CommandCheck::OK);
    EXPECT_EQ(parsed.opcode, CMD_ERASE);
    EXPECT_EQ(parsed.argument1, 511u);
    EXPECT_EQ(parsed.argument2, 1u);

    struct Case {
        const char* what;
        void (*spoil)(CommandBlock&);
        CommandCheck expected;
    };
    const Case cases[] = {
        {"length 13", [](CommandBlock& b) { b.bytes[1] = 13; }, CommandCheck::BAD_LENGTH},
        {"signature", [](CommandBlock& b) { b.bytes[12] ^= 1; }, CommandCheck::BAD_SIGNATURE},
        {"checksum", [](CommandBlock& b) { b.bytes[14] += 1; }, CommandCheck::BAD_CHECKSUM},
        {"argument changed after summing", [](CommandBlock& b) { b.bytes[2] += 1; }, CommandCheck::BAD_CHECKSUM},
        {"checksum high byte", [](CommandBlock& b) { b.bytes[17] = 1; }, CommandCheck::BAD_CHECKSUM},
        {"unknown opcode, valid sum", [](CommandBlock& b) { FillCommandBlock(b, 0x42, 1, 2); },
         CommandCheck::BAD_OPCODE},
    };
    for (const Case& c : cases) {
        CommandBlock block = good;
        c.spoil(block);
        EXPECT_EQ(ParseCommandBlock(block.bytes, parsed), c.expected) << c.what;
    }
}

}  // namespace
