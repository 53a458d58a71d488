// The command operations on g_hidCmd against an in-process simulated device.
// Each test runs in a process of its own (the program connects only once).
#include "device/hid_cmd.h"

#include <cstring>
#include <thread>

#include "sim_fixture.h"

namespace {

// Short enough for a quick test, long enough that a live device never meets it.
constexpr DWORD kTestBoundMs = 600;

class Commands : public ::testing::Test {
protected:
    explicit Commands(const SimulatorOptions& options = SimulatorOptions()) : sim(UniquePipe(L"cmd"), options) {}
    void SetUp() override
    {
        ASSERT_TRUE(FakesLoaded());
        ASSERT_TRUE(sim.Start());
        SetFakeDevices(Entry(sim.path, L"0416:F362"));
        ASSERT_EQ(Connect(), 1);
        g_hidCmd.m_io.SetTransferBound(kTestBoundMs);
    }
    // The device log once `lines` commands have arrived (a write completes as
    // soon as its report is queued) and the device has stopped.
    std::vector<std::string> FinalLog(size_t lines)
    {
        EXPECT_TRUE(sim.WaitForLogLines(lines));
        sim.server->Stop();
        return sim.Log();
    }
    SimDevice sim;
};

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);
    return data;
}

TEST_F(Commands, EraseWriteReadRoundTripThroughTheDevice)
{
    const std::vector<uint8_t> block = Pattern(FLASH_BLOCK_SIZE);
    SendTestCommand(TEST_BEGIN_IMAGE, 3);
    EXPECT_EQ(EraseBlock(5), 1);
    EXPECT_EQ(WritePages(80, 16, block.data()), FLASH_BLOCK_SIZE);
    std::vector<uint8_t> back(FLASH_BLOCK_SIZE, 0);
    EXPECT_EQ(ReadPages(80, 16, back.data()), FLASH_BLOCK_SIZE);
    EXPECT_EQ(back, block);  // byte 0 of every input report dropped, order kept
    EXPECT_EQ(FinalLog(4),
              (std::vector<std::string>{"TEST C5B484A1 00000003", "ERASE 5", "WRITE 80 16", "READ 80 16"}));
    EXPECT_EQ(0, std::memcmp(sim.device.Flash() + 5 * FLASH_BLOCK_SIZE, block.data(), block.size()));
    // The last erase/write/read command stays in g_commandBlock.
    EXPECT_EQ(g_commandBlock.bytes[0], CMD_READ);
}

TEST_F(Commands, InformationPageReadsTheRecordTheDeviceHolds)
{
    const uint8_t record[DEVICE_INFO_SIZE] = {0x21, 0x03, 0x0A, 0x1F, 'A', 'B', 'C', 2, 0, 0, 0, 0, 'R', 'V', 'O', '1'};
    sim.server->WithDevice([&](SimulatedDevice& d) { d.SetInfoRecord(record); });
    uint8_t page[FLASH_PAGE_SIZE + 8];
    std::memset(page, 0x5A, sizeof page);
    EXPECT_EQ(ReadPages(DEVICE_INFO_PAGE, 1, page), FLASH_PAGE_SIZE);
    EXPECT_EQ(0, std::memcmp(page, record, sizeof record));
    EXPECT_EQ(page[DEVICE_INFO_SIZE], 0xFF);
    EXPECT_EQ(page[FLASH_PAGE_SIZE - 1], 0xFF);
    EXPECT_EQ(page[FLASH_PAGE_SIZE], 0x5A);  // nothing past the page
    EXPECT_EQ(FinalLog(1), std::vector<std::string>{"READ 8175 1"});
}

TEST_F(Commands, PageCountZeroSendsTheCommandWithoutDataPhase)
{
    uint8_t buffer[FLASH_PAGE_SIZE];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(WritePages(80, 0, buffer), 0u);
    EXPECT_EQ(ReadPages(80, 0, buffer), 0u);
    EXPECT_EQ(EraseBlock(7), 1);  // taken as a command: no data phase was open
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(FinalLog(3), (std::vector<std::string>{"WRITE 80 0", "READ 80 0", "ERASE 7"}));
}

class NoDevice : public ::testing::Test {};

// With no device open every command report fails; only the line tells which.
TEST_F(NoDevice, FailedCommandReportsPrintTheirLine)
{
    uint8_t buffer[FLASH_PAGE_SIZE] = {};
    struct Case {
        const char* line;
        uint32_t (*run)(uint8_t*);
    };
    const Case cases[] = {
        {"ERROR: Send test command error!\n",
         [](uint8_t*) {
             SendTestCommand(TEST_FINISH, TEST_FINISH);
             return 0u;
         }},
        {"ERROR: Send erase command error!\n", [](uint8_t*) { return static_cast<uint32_t>(EraseBlock(5)); }},
        {"ERROR: Send write command error!\n", [](uint8_t* b) { return WritePages(0, 1, b); }},
        {"ERROR: Send read command error!\n", [](uint8_t* b) { return ReadPages(0, 1, b); }},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        const uint32_t result = c.run(buffer);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(result, 0u);
    }
}

class DeviceStopsAnswering : public Commands {
protected:
    static SimulatorOptions Options()
    {
        SimulatorOptions options;
        options.stopAnsweringAfter = 3;  // the read command and two input reports
        return options;
    }
    DeviceStopsAnswering() : Commands(Options()) {}
};

// A device that falls silent mid-read: the read returns the partial total
// within the bound instead of hanging, and from then on the device counts as
// gone, so the next transfer fails at once.
TEST_F(DeviceStopsAnswering, PartialTotalWithinTheBoundThenEveryTransferFailsAtOnce)
{
    std::vector<uint8_t> page(FLASH_PAGE_SIZE, 0);
    ::testing::internal::CaptureStdout();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ReadPages(DEVICE_INFO_PAGE, 1, page.data()), 128u);
    const ULONGLONG readMs = GetTickCount64() - start;
    EXPECT_EQ(EraseBlock(3), 0);
    const ULONGLONG eraseMs = GetTickCount64() - start - readMs;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERROR: Read fail!\nERROR: Send erase command error!\n");

    EXPECT_GE(readMs, kTestBoundMs - 50);
    EXPECT_LT(readMs, kTestBoundMs + 3000);
    EXPECT_LT(eraseMs, kTestBoundMs / 2);
    EXPECT_TRUE(g_hidCmd.m_io.DeviceGone());
    EXPECT_EQ(FinalLog(1), std::vector<std::string>{"READ 8175 1"});  // the erase never left
}

class DeviceUnplugged : public Commands {
protected:
    static SimulatorOptions Options()
    {
        SimulatorOptions options;
        options.unplugAfter = 3;  // the write command and two data reports
        return options;
    }
    DeviceUnplugged() : Commands(Options()) {}
};

class SilentDevice : public Commands {
protected:
    static SimulatorOptions Options()
    {
        SimulatorOptions options;
        options.stopAnsweringAfter = 0;  // input reports come from the test alone
        return options;
    }
    SilentDevice() : Commands(Options()) {}
};

// Reports of another size than 65 count their bytes less one, yet never fill
// the destination past page count * 256. A short pipe message read on its
// own stands for such a report.
TEST_F(SilentDevice, ShortReportsNeverOverrunTheDestination)
{
    EXPECT_EQ(EraseBlock(0), 1);  // makes this client's writer known to the server
    ASSERT_TRUE(sim.WaitForLogLines(1));
    uint8_t first[REPORT_SIZE], last[REPORT_SIZE];
    for (size_t i = 0; i < REPORT_SIZE; ++i) {
        first[i] = static_cast<uint8_t>(0x80 + i);
        last[i] = static_cast<uint8_t>(i);
    }
    for (size_t length : {size_t(65), size_t(65), size_t(65), size_t(40)})
        ASSERT_TRUE(sim.server->SendRaw(first, length));
    // Sent only once the short message has been read alone.
    std::thread late([&] {
        Sleep(kTestBoundMs / 3);
        sim.server->SendRaw(last, REPORT_SIZE);
    });
    uint8_t page[FLASH_PAGE_SIZE + 64];
    std::memset(page, 0x5A, sizeof page);
    const uint32_t total = ReadPages(0, 1, page);
    late.join();
    EXPECT_EQ(total, FLASH_PAGE_SIZE);
    EXPECT_EQ(page[3 * 64], 0x81);  // the 40-byte message gave 39 bytes
    EXPECT_EQ(page[3 * 64 + 38], 0x81 + 38);
    EXPECT_EQ(page[3 * 64 + 39], 1);  // the last report, cut to the 25 left
    EXPECT_EQ(page[FLASH_PAGE_SIZE - 1], 25);
    for (size_t i = FLASH_PAGE_SIZE; i < sizeof page; ++i) ASSERT_EQ(page[i], 0x5A) << i;
}

// A read that completes with no bytes at all is a failed report, not a time-out:
// the read stops there with its line, and the destination past what arrived is
// untouched (a payload of "0 - 1" bytes must never be taken).
TEST_F(SilentDevice, ReportOfZeroBytesEndsTheReadAndTouchesNothing)
{
    EXPECT_EQ(EraseBlock(0), 1);  // makes this client's writer known to the server
    ASSERT_TRUE(sim.WaitForLogLines(1));
    uint8_t report[REPORT_SIZE];
    for (size_t i = 0; i < REPORT_SIZE; ++i) report[i] = static_cast<uint8_t>(0x80 + i);
    ASSERT_TRUE(sim.server->SendRaw(report, REPORT_SIZE));
    ASSERT_TRUE(sim.server->SendRaw(report, 0));
    uint8_t page[FLASH_PAGE_SIZE];
    std::memset(page, 0x5A, sizeof page);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ReadPages(0, 1, page), 64u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERROR: Read fail!\n");
    EXPECT_FALSE(g_hidCmd.m_io.DeviceGone());  // it completed; no bound ran out
    EXPECT_EQ(page[63], 0x80 + 64);
    for (size_t i = 64; i < sizeof page; ++i) ASSERT_EQ(page[i], 0x5A) << i;
}

TEST_F(DeviceUnplugged, FailureAtTheThirdDataReportReturns128)
{
    const std::vector<uint8_t> block = Pattern(FLASH_BLOCK_SIZE);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(WritePages(0, 16, block.data()), 128u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERROR: Write fail!\n");
    EXPECT_EQ(0, std::memcmp(sim.device.Flash(), block.data(), 128));
    EXPECT_EQ(sim.device.Flash()[128], 0xFF);
}

}  // namespace
