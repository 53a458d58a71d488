// CHidIO against in-process simulated devices: which interface discovery
// opens, and the transfer results.
#include "device/hid_io.h"

#include "device/command_block.h"
#include "sim_fixture.h"

namespace {

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FakesLoaded()); }

    // Sends one test command so the device that was opened logs it.
    static void Touch(CHidIO& io)
    {
        CommandBlock block;
        FillCommandBlock(block, CMD_TEST, 1, 2);
        uint8_t report[REPORT_SIZE];
        BuildCommandReport(block, report);
        ASSERT_EQ(io.WriteReport(report, nullptr), 1);
    }
};

const std::vector<std::string> kTouched = {"TEST 00000001 00000002"};

TEST_F(Discovery, FirstOfTwoMatchingDevicesIsOpenedTheOtherNeverLookedAt)
{
    SimDevice first(UniquePipe(L"first")), second(UniquePipe(L"second"));
    ASSERT_TRUE(first.Start() && second.Start());
    SetFakeDevices(Entry(first.path, L"0416:F362") + Entry(second.path, L"0416:F362"));
    CHidIO io;
    ASSERT_EQ(io.OpenDevice(), 1);
    Touch(io);
    ASSERT_TRUE(first.WaitForLogLines(1));
    first.server->Stop();
    second.server->Stop();
    EXPECT_EQ(first.Log(), kTouched);
    EXPECT_EQ(first.server->Connections(), 3u);  // probe, reader, writer
    EXPECT_EQ(second.server->Connections(), 0u);
}

TEST_F(Discovery, SkipsOtherProductIdAndPathsWithNothingBehindThem)
{
    SimDevice other(UniquePipe(L"other")), wanted(UniquePipe(L"wanted"));
    ASSERT_TRUE(other.Start() && wanted.Start());
    SetFakeDevices(Entry(UniquePipe(L"absent"), L"0416:F362") + Entry(other.path, L"0416:1234") +
                   Entry(wanted.path, L"0416:F362"));
    CHidIO io;
    ASSERT_EQ(io.OpenDevice(), 1);
    Touch(io);
    ASSERT_TRUE(wanted.WaitForLogLines(1));
    other.server->Stop();
    wanted.server->Stop();
    EXPECT_EQ(other.server->Connections(), 1u);  // the probe only
    EXPECT_TRUE(other.Log().empty());
    EXPECT_EQ(wanted.Log(), kTouched);
}

TEST_F(Discovery, ListsEveryMatchAndOpensTheOneNamed)
{
    SimDevice first(UniquePipe(L"list-a")), other(UniquePipe(L"list-other")), second(UniquePipe(L"list-b"));
    ASSERT_TRUE(first.Start() && other.Start() && second.Start());
    SetFakeDevices(Entry(first.path, L"0416:F362") + Entry(other.path, L"0416:1234") +
                   Entry(second.path, L"0416:F362"));
    EXPECT_EQ(CHidIO::MatchingDevicePaths(), (std::vector<std::wstring>{first.path, second.path}));

    CHidIO io;
    ASSERT_EQ(io.OpenDevicePath(second.path.c_str()), 1);
    Touch(io);
    ASSERT_TRUE(second.WaitForLogLines(1));
    EXPECT_EQ(second.Log(), kTouched);
    EXPECT_TRUE(first.Log().empty());

    // Another product, or nothing at all behind the path: not opened.
    CHidIO wrong;
    EXPECT_EQ(wrong.OpenDevicePath(other.path.c_str()), 0);
    EXPECT_EQ(wrong.OpenDevicePath(UniquePipe(L"absent").c_str()), 0);
    uint8_t report[REPORT_SIZE] = {};
    EXPECT_EQ(wrong.WriteReport(report, nullptr), 0);
    first.server->Stop();
    other.server->Stop();
    second.server->Stop();
}

TEST_F(Discovery, NoInterfacesOrNoMatchGivesZero)
{
    SimDevice other(UniquePipe(L"other"));
    ASSERT_TRUE(other.Start());
    for (const std::wstring& list : {std::wstring(), Entry(other.path, L"1234:F362")}) {
        SetFakeDevices(list);
        CHidIO io;
        EXPECT_EQ(io.OpenDevice(), 0);
        uint32_t count = 7;
        EXPECT_EQ(io.WriteReport(std::vector<uint8_t>(REPORT_SIZE).data(), &count), 0);
        EXPECT_EQ(count, 0u);
    }
}

// A path that does not fit the 260-character buffer is skipped, not cut: the
// cut path names another pipe, which must never be opened.
TEST_F(Discovery, OverlongPathIsSkippedNotTruncated)
{
    const std::wstring cutName = UniquePipe(L"cut") + std::wstring(259 - UniquePipe(L"cut").size(), L'x');
    ASSERT_EQ(cutName.size(), DEVICE_PATH_CHARS - 1);
    SimDevice cut(cutName), wanted(UniquePipe(L"wanted"));
    ASSERT_TRUE(cut.Start()) << "pipe names of 259 characters are needed here";
    ASSERT_TRUE(wanted.Start());
    SetFakeDevices(Entry(cutName + L"yy", L"0416:F362") + Entry(wanted.path, L"0416:F362"));
    CHidIO io;
    ASSERT_EQ(io.OpenDevice(), 1);
    Touch(io);
    ASSERT_TRUE(wanted.WaitForLogLines(1));
    cut.server->Stop();
    wanted.server->Stop();
    EXPECT_EQ(cut.server->Connections(), 0u);
    EXPECT_EQ(wanted.Log(), kTouched);
}

class Transfers : public Discovery {
protected:
    void SetUp() override
    {
        Discovery::SetUp();
        ASSERT_TRUE(sim.Start());
        SetFakeDevices(Entry(sim.path, L"0416:F362"));
        ASSERT_EQ(io.OpenDevice(), 1);
    }
    SimDevice sim{UniquePipe(L"sim")};
    CHidIO io;
};

TEST_F(Transfers, NullCountPointerMovesReportsBothWays)
{
    sim.server->WithDevice([](SimulatedDevice& d) {
        d.SetInfoRecord({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    });
    CommandBlock block;
    FillCommandBlock(block, CMD_READ, DEVICE_INFO_PAGE, 1);
    uint8_t report[REPORT_SIZE];
    BuildCommandReport(block, report);
    ASSERT_EQ(io.WriteReport(report, nullptr), 1);
    uint8_t in[REPORT_SIZE] = {};
    ASSERT_EQ(io.ReadReport(in, nullptr), 1);
    EXPECT_EQ(in[1], 1);
    EXPECT_EQ(in[16], 16);
    uint32_t count = 0;
    ASSERT_EQ(io.ReadReport(in, &count), 1);
    EXPECT_EQ(count, REPORT_SIZE);
    EXPECT_EQ(in[1], 0xFF);
}

// The abort event fails the waiting transfer and is reset by it, so the
// next transfer goes through.
TEST_F(Transfers, AbortFailsOneTransferOnly)
{
    uint8_t report[REPORT_SIZE];
    CommandBlock block;
    FillCommandBlock(block, CMD_ERASE, 9, 1);
    BuildCommandReport(block, report);
    io.SignalAbort();
    uint32_t count = 5;
    EXPECT_EQ(io.WriteReport(report, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(io.WriteReport(report, &count), 1);
    EXPECT_EQ(count, REPORT_SIZE);
    EXPECT_FALSE(io.DeviceGone());
}

TEST(TransfersClosed, InvalidHandleFailsWithCountZero)
{
    CHidIO io;  // never opened
    uint8_t report[REPORT_SIZE] = {};
    uint32_t count = 99;
    EXPECT_EQ(io.ReadReport(report, &count), 0);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(io.WriteReport(report, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(io.ReadReport(report, nullptr), 0);
}

}  // namespace
