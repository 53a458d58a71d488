#include "tools/simulator/sim_device.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct RecordingLink : DeviceLink {
    std::vector<std::array<uint8_t, REPORT_SIZE>> sent;
    std::vector<std::string> log;
    uint64_t pausedUs = 0;
    void SendReport(const uint8_t (&report)[REPORT_SIZE]) override
    {
        std::array<uint8_t, REPORT_SIZE> copy;
        std::memcpy(copy.data(), report, REPORT_SIZE);
        sent.push_back(copy);
    }
    void LogCommand(const char* line) override { log.emplace_back(line); }
    void Pause(uint32_t microseconds) override { pausedUs += microseconds; }
};

// The host's side: command reports and data reports as the program builds them.
struct Host {
    explicit Host(SimulatedDevice& d) : device(d) {}
    SimulatedDevice& device;
    RecordingLink link;

    void Command(uint8_t opcode, uint32_t argument1, uint32_t argument2)
    {
        CommandBlock block;
        FillCommandBlock(block, opcode, argument1, argument2);
        uint8_t report[REPORT_SIZE];
        BuildCommandReport(block, report);
        device.ReceiveReport(report, REPORT_SIZE, link);
    }
    void Write(uint32_t firstPage, const std::vector<uint8_t>& data)
    {
        Command(CMD_WRITE, firstPage, static_cast<uint32_t>(data.size() / FLASH_PAGE_SIZE));
        for (size_t at = 0; at < data.size(); at += REPORT_PAYLOAD_SIZE) {
            uint8_t report[REPORT_SIZE] = {0};
            std::memcpy(report + 1, data.data() + at, REPORT_PAYLOAD_SIZE);
            device.ReceiveReport(report, REPORT_SIZE, link);
        }
    }
    // Payload bytes of every report sent since `from`.
    std::vector<uint8_t> Received(size_t from = 0) const
    {
        std::vector<uint8_t> data;
        for (size_t i = from; i < link.sent.size(); ++i)
            data.insert(data.end(), link.sent[i].begin() + 1, link.sent[i].end());
        return data;
    }
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
    return data;
}

const uint8_t kRecord[DEVICE_INFO_SIZE] = {0x21, 0x03, 0x0A, 0x1F, 'A', 'B', 'C', 2, 0, 0, 0, 0, 'R', 'V', 'O', '1'};

TEST(SimulatedDevice, StartsErasedWithTheInformationRecordOnItsPage)
{
    SimulatedDevice device;
    device.SetInfoRecord(kRecord);
    Host host(device);
    host.Command(CMD_READ, DEVICE_INFO_PAGE, 1);

    ASSERT_EQ(host.link.sent.size(), 4u);
    for (const auto& report : host.link.sent) EXPECT_EQ(report[0], 0);
    const std::vector<uint8_t> page = host.Received();
    EXPECT_EQ(std::vector<uint8_t>(page.begin(), page.begin() + 16), std::vector<uint8_t>(kRecord, kRecord + 16));
    for (size_t i = 16; i < FLASH_PAGE_SIZE; ++i) ASSERT_EQ(page[i], 0xFF) << i;
    EXPECT_EQ(device.Flash()[0], 0xFF);
    EXPECT_EQ(device.Flash()[FLASH_SIZE - 1], 0xFF);
    EXPECT_EQ(host.link.log, std::vector<std::string>{"READ 8175 1"});
}

TEST(SimulatedDevice, EraseWriteReadRoundTripAndLog)
{
    SimulatedDevice device;
    Host host(device);
    const std::vector<uint8_t> block = Pattern(FLASH_BLOCK_SIZE, 3);
    host.Command(CMD_TEST, TEST_BEGIN_IMAGE, 3);
    host.Command(CMD_ERASE, 5, 1);
    host.Write(5 * PAGES_PER_BLOCK, block);
    host.Command(CMD_READ, 5 * PAGES_PER_BLOCK, PAGES_PER_BLOCK);

    EXPECT_EQ(host.link.sent.size(), 64u);
    EXPECT_EQ(host.Received(), block);
    EXPECT_EQ(0, std::memcmp(device.Flash() + 5 * FLASH_BLOCK_SIZE, block.data(), block.size()));
    EXPECT_EQ(device.Flash()[5 * FLASH_BLOCK_SIZE - 1], 0xFF);  // neighbours untouched
    EXPECT_EQ(device.Flash()[6 * FLASH_BLOCK_SIZE], 0xFF);
    EXPECT_EQ(host.link.log,
              (std::vector<std::string>{"TEST C5B484A1 00000003", "ERASE 5", "WRITE 80 16", "READ 80 16"}));

    host.Command(CMD_ERASE, 5, 1);
    for (size_t i = 0; i < FLASH_BLOCK_SIZE; ++i) ASSERT_EQ(device.Flash()[5 * FLASH_BLOCK_SIZE + i], 0xFF) << i;
}

// Programming only clears bits, so a write without its erase is visible.
TEST(SimulatedDevice, WriteWithoutEraseAndsIntoFlash)
{
    SimulatedDevice device;
    Host host(device);
    host.Write(0, std::vector<uint8_t>(FLASH_PAGE_SIZE, 0xF0));
    host.Write(0, std::vector<uint8_t>(FLASH_PAGE_SIZE, 0x3C));
    EXPECT_EQ(device.Flash()[0], 0x30);
    EXPECT_EQ(device.Flash()[FLASH_PAGE_SIZE - 1], 0x30);
    EXPECT_EQ(device.Flash()[FLASH_PAGE_SIZE], 0xFF);
}

TEST(SimulatedDevice, DataPhaseTakesCommandLookingReportsAsData)
{
    SimulatedDevice device;
    Host host(device);
    host.Command(CMD_WRITE, 0, 1);
    for (int i = 0; i < 4; ++i) host.Command(CMD_ERASE, 0, 1);  // four data reports
    EXPECT_FALSE(device.InWriteDataPhase());
    EXPECT_EQ(device.Flash()[0], 0x71);  // the erase block landed as data
    EXPECT_EQ(device.Flash()[1], 0x0E);
    EXPECT_EQ(host.link.log, std::vector<std::string>{"WRITE 0 1"});
}

TEST(SimulatedDevice, BadReportsAreLoggedAndIgnored)
{
    SimulatedDevice device;
    device.SetInfoRecord(kRecord);
    Host host(device);
    const size_t infoBlock = DEVICE_INFO_PAGE / PAGES_PER_BLOCK;

    CommandBlock block;
    FillCommandBlock(block, CMD_ERASE, static_cast<uint32_t>(infoBlock), 1);
    block.bytes[14] ^= 0x01;  // checksum off by one
    uint8_t report[REPORT_SIZE];
    BuildCommandReport(block, report);
    device.ReceiveReport(report, REPORT_SIZE, host.link);
    device.ReceiveReport(report, REPORT_SIZE - 1, host.link);  // short report
    host.Command(0x42, 0, 0);

    ASSERT_EQ(host.link.log.size(), 3u);
    EXPECT_EQ(host.link.log[0],
              "BAD checksum 710EFE01000001000000"
              "69E3BE93"
              "1D040000");  // sum 1052, plus the spoiled 1
    EXPECT_EQ(host.link.log[1], "BAD size 64");
    EXPECT_EQ(host.link.log[2].rfind("BAD opcode 42", 0), 0u);
    EXPECT_EQ(device.Flash()[DEVICE_INFO_PAGE * FLASH_PAGE_SIZE], kRecord[0]);  // not erased
    EXPECT_TRUE(host.link.sent.empty());
}

TEST(SimulatedDevice, ReadPastTheEndAnswersErasedBytesInFull)
{
    SimulatedDevice device;
    Host host(device);
    host.Command(CMD_READ, FLASH_PAGE_COUNT - 1, 2);
    EXPECT_EQ(host.link.sent.size(), 8u);
    for (uint8_t b : host.Received()) ASSERT_EQ(b, 0xFF);
    host.Command(CMD_READ, 3, 0);
    EXPECT_EQ(host.link.sent.size(), 8u);
    EXPECT_EQ(host.link.log.back(), "READ 3 0");
}

TEST(SimulatedDevice, StopAnsweringCountsReportsBothWays)
{
    SimulatorOptions options;
    options.stopAnsweringAfter = 3;  // the command and two data reports
    SimulatedDevice device(options);
    Host host(device);
    host.Command(CMD_READ, 0, 1);
    EXPECT_EQ(host.link.sent.size(), 2u);
    host.Command(CMD_ERASE, 1, 1);  // still listening, just silent
    EXPECT_EQ(host.link.log.back(), "ERASE 1");
    host.Command(CMD_READ, 0, 1);
    EXPECT_EQ(host.link.sent.size(), 2u);
    EXPECT_FALSE(device.Unplugged());
}

// The pipe server stops taking reports once the device is hung; the core
// ignores any that still reach it and answers nothing.
TEST(SimulatedDevice, HangStopsTakingAndAnsweringButStaysPlugged)
{
    SimulatorOptions options;
    options.hangAfter = 3;  // the command and two answers
    SimulatedDevice device(options);
    Host host(device);
    EXPECT_FALSE(device.Hung());
    host.Command(CMD_READ, 0, 1);
    EXPECT_EQ(host.link.sent.size(), 2u);
    EXPECT_TRUE(device.Hung());
    host.Command(CMD_ERASE, 1, 1);
    EXPECT_EQ(host.link.log, std::vector<std::string>{"READ 0 1"});
    EXPECT_FALSE(device.Unplugged());
}

TEST(SimulatedDevice, UnplugEndsEverythingAfterTheNthReport)
{
    SimulatorOptions options;
    options.unplugAfter = 4;
    SimulatedDevice device(options);
    Host host(device);
    host.Command(CMD_READ, 0, 1);  // command + 3 answers, then gone
    EXPECT_EQ(host.link.sent.size(), 3u);
    EXPECT_TRUE(device.Unplugged());
    host.Command(CMD_ERASE, 0, 1);
    EXPECT_EQ(host.link.log.size(), 1u);
}

TEST(SimulatedDevice, CorruptionFlipsReadBackBytesButNotTheFlash)
{
    for (uint32_t length : {1u, 5u}) {
        SimulatorOptions options;
        options.corruptReadBack = true;
        options.corruptOffset = FLASH_BLOCK_SIZE + 100;
        options.corruptLength = length;
        SimulatedDevice device(options);
        Host host(device);
        host.Command(CMD_READ, PAGES_PER_BLOCK, 1);
        const std::vector<uint8_t> page = host.Received();
        for (size_t i = 0; i < page.size(); ++i)
            ASSERT_EQ(page[i], i >= 100 && i < 100 + length ? 0x00 : 0xFF) << i << " of " << length;
        EXPECT_EQ(device.Flash()[FLASH_BLOCK_SIZE + 100], 0xFF);
    }
}

TEST(SimulatedDevice, PacingAsksForTimePerReportAndPerErase)
{
    SimulatorOptions options;
    options.reportDelayUs = 1000;
    options.eraseDelayMs = 30;
    SimulatedDevice device(options);
    Host host(device);
    host.Command(CMD_ERASE, 2, 1);  // 1 report + erase
    host.Command(CMD_READ, 0, 1);   // 1 + 4 reports
    EXPECT_EQ(host.link.pausedUs, 6 * 1000u + 30 * 1000u);
}

}  // namespace
