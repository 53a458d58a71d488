// CHidIO against in-process simulated devices: which interface discovery
// opens, and the transfer results.
#include "device/hid_io.h"

#include "device/command_block.h"
#include "sim_fixture.h"
#include "transport_recorder.h"

#include <algorithm>
#include <sstream>

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

// A path of 259 characters fits the 260-character buffer with its
// terminator; a longer one is skipped whole: neither it nor a cut of it is
// ever opened (no pipe name of 260 characters can be served, so the attempts
// to open are what is recorded).
TEST_F(Discovery, PathsUpTo259CharactersAreOpenedLongerOnesSkippedNotCut)
{
    ASSERT_TRUE(InstallOpenRecorder());
    const struct {
        size_t length;
        bool opened;
    } cases[] = {{259, true}, {260, false}, {261, false}};
    for (const auto& c : cases) {
        const std::wstring tag = L"path" + std::to_wstring(c.length);
        const std::wstring base = UniquePipe(tag.c_str());
        const std::wstring path = base + std::wstring(c.length - base.size(), L'x');
        SimDevice wanted(UniquePipe((tag + L"-wanted").c_str()));
        std::unique_ptr<SimDevice> full;
        if (c.opened) {
            full = std::make_unique<SimDevice>(path);
            ASSERT_TRUE(full->Start());
        }
        ASSERT_TRUE(wanted.Start());
        SetFakeDevices(Entry(path, L"0416:F362") + Entry(wanted.path, L"0416:F362"));
        TakePipePathsOpened();
        {
            CHidIO io;
            ASSERT_EQ(io.OpenDevice(), 1) << c.length;
            Touch(io);
            ASSERT_TRUE((c.opened ? *full : wanted).WaitForLogLines(1)) << c.length;
        }
        // The probe, the reader and the writer.
        const std::wstring& opened = c.opened ? path : wanted.path;
        EXPECT_EQ(TakePipePathsOpened(), std::vector<std::wstring>(3, opened)) << c.length;
        wanted.server->Stop();
        if (full) full->server->Stop();
    }
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

// The process ends on its main thread while a worker's read waits on a
// silent device (exit_during_transfer.exe). The destructor must cancel that
// read although another thread issued it, and close the handle only once the
// read has completed as aborted. The order comes from the child's record of
// its transport calls, not from timing.
TEST(ProcessEnd, PendingReadOfAnotherThreadCompletesAbortedBeforeItsHandleCloses)
{
    ASSERT_TRUE(FakesLoaded());
    SimulatorOptions silent;
    silent.stopAnsweringAfter = 0;  // takes the read command, never answers
    SimDevice sim(UniquePipe(L"exit"), silent);
    ASSERT_TRUE(sim.Start());
    SetFakeDevices(Entry(sim.path, L"0416:F362"));  // the child inherits it

    constexpr DWORD kBoundMs = 10000;
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command(exe);
    command.resize(command.find_last_of(L'\\') + 1);
    command = L"\"" + command + L"exit_during_transfer.exe\" " + std::to_wstring(kBoundMs);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite;
    ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION child;
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child));
    CloseHandle(outWrite);
    std::string output;
    char chunk[512];
    DWORD got;
    while (ReadFile(outRead, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(outRead);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, kBoundMs * 2), WAIT_OBJECT_0);
    const ULONGLONG elapsed = GetTickCount64() - start;
    DWORD exitCode = 99;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    sim.server->Stop();

    // Only the recorder's lines: the program's own "ERROR: " line may fall
    // anywhere once the read has returned. Cancels of the write handle, where
    // nothing is pending, race with the read's completion and are left out; a
    // cancel repeated while the read completes is kept once.
    std::vector<std::string> records;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("exit: ", 0) != 0 && line.rfind("worker: ", 0) != 0) continue;
        if (line.find("CancelIo") != std::string::npos &&
            (line.find("write handle") != std::string::npos ||
             std::find(records.begin(), records.end(), line) != records.end()))
            continue;
        records.push_back(line);
    }
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_LT(elapsed, kBoundMs) << "the read was left to its own bound";
    const std::vector<std::string> expected = {
        "worker: completed (65 bytes): write handle",  // the read command
        "worker: read pending",
        "exit: main returns",
        "exit: CancelIoEx read handle",
        "worker: aborted: read handle",
        "exit: close read handle",
        "exit: close write handle",
        "exit: close read event",
    };
    EXPECT_EQ(records, expected) << output;
    EXPECT_EQ(sim.Log(), std::vector<std::string>{"READ 8175 1"});
}

}  // namespace
