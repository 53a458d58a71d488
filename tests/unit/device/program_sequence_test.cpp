// The portable programming sequence and command operations against the
// simulator core in-process: every report byte for byte, the progress events,
// the flash afterwards, and the faults (corrupt read-back, a device that stops
// answering, unplugging, a failing data report, a stop request).
#include "tests/support/image_layout.h"
#include "device/program_sequence.h"
#include "device/package_header.h"
#include "tools/simulator/in_process_device.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Report = std::array<uint8_t, REPORT_SIZE>;

std::vector<uint8_t> MakePackage(const Layout& layout)
{
    return PlainImagePackage(layout);
}

// A command report written out by hand: report id 0, opcode, 14, two
// little-endian arguments, the signature 69 E3 BE 93, the sum of those 14
// bytes, then 0xCC.
Report CommandReport(uint8_t opcode, uint32_t a1, uint32_t a2)
{
    Report r;
    r.fill(0xCC);
    uint8_t block[14] = {opcode, 14, 0, 0, 0, 0, 0, 0, 0, 0, 0x69, 0xE3, 0xBE, 0x93};
    for (int i = 0; i < 4; ++i) {
        block[2 + i] = uint8_t(a1 >> (8 * i));
        block[6 + i] = uint8_t(a2 >> (8 * i));
    }
    uint32_t sum = 0;
    r[0] = 0;
    for (int i = 0; i < 14; ++i) {
        r[1 + i] = block[i];
        sum += block[i];
    }
    for (int i = 0; i < 4; ++i) r[15 + i] = uint8_t(sum >> (8 * i));
    return r;
}

// The data reports of a write: report id 0, 64 image bytes each.
void AppendData(std::vector<Report>& out, size_t imageOffset, size_t bytes)
{
    for (size_t at = 0; at < bytes; at += REPORT_PAYLOAD_SIZE) {
        Report r{};
        for (size_t i = 0; i < REPORT_PAYLOAD_SIZE; ++i) r[1 + i] = ImageByte(imageOffset + at + i);
        out.push_back(r);
    }
}

struct RecordingSink : CProgressSink {
    std::vector<std::string> events;
    size_t stopAfterEvents = SIZE_MAX;
    void ImageBegun(uint32_t n) override { events.push_back("begin " + std::to_string(n)); }
    void BlockWritten(uint32_t left) override { events.push_back("written " + std::to_string(left)); }
    void BlockVerified(uint32_t left) override { events.push_back("verified " + std::to_string(left)); }
    void LastBlockWritten() override { events.push_back("last written"); }
    void ImageVerified() override { events.push_back("complete"); }
    bool StopRequested() override { return events.size() >= stopAfterEvents; }
};

struct Bench {
    explicit Bench(const SimulatorOptions& options = SimulatorOptions()) : device(options) {}
    CInProcessDevice device;
    uint8_t report[REPORT_SIZE] = {};
    CommandBlock lastCommand{};
    std::vector<std::string> diagnostics;
    CCommandPort port{device, report, lastCommand, nullptr};
    RecordingSink sink;

    ProgramOutcome Program(const Layout& layout)
    {
        const std::vector<uint8_t> package = MakePackage(layout);
        return RunProgramSequence(port, package.data(), sink);
    }
    bool FlashHolds(const Layout& layout) const
    {
        const uint8_t* flash = device.device.Flash() + size_t(layout.first) * FLASH_BLOCK_SIZE;
        for (size_t i = 0; i < DataLength(layout); ++i)
            if (flash[i] != ImageByte(i)) return false;
        for (size_t i = DataLength(layout); i < size_t(layout.last - layout.first + 1) * FLASH_BLOCK_SIZE; ++i)
            if (flash[i] != 0xFF) return false;
        return true;
    }
};

TEST(ProgramSequence, EveryReportByteForByte)
{
    Bench bench;
    const Layout layout{5, 7, 3};
    const ProgramOutcome outcome = bench.Program(layout);
    EXPECT_EQ(outcome.mismatches, 0u);
    EXPECT_FALSE(outcome.stopped);

    std::vector<Report> expected;
    expected.push_back(CommandReport(0x5B, 0xC5B484A1, 3));
    expected.push_back(CommandReport(0x71, 5, 1));
    expected.push_back(CommandReport(0xC3, 80, 16));
    AppendData(expected, 0, FLASH_BLOCK_SIZE);
    expected.push_back(CommandReport(0x71, 6, 1));
    expected.push_back(CommandReport(0xC3, 96, 16));
    AppendData(expected, FLASH_BLOCK_SIZE, FLASH_BLOCK_SIZE);
    expected.push_back(CommandReport(0x71, 7, 1));
    expected.push_back(CommandReport(0xC3, 112, 3));
    AppendData(expected, 2 * FLASH_BLOCK_SIZE, 3 * FLASH_PAGE_SIZE);
    expected.push_back(CommandReport(0xD2, 80, 16));
    expected.push_back(CommandReport(0xD2, 96, 16));
    expected.push_back(CommandReport(0xD2, 112, 3));
    ASSERT_EQ(bench.device.written.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(bench.device.written[i], expected[i]) << "report " << i;

    // The erase of block 5 as the device documentation spells it.
    const Report erase5 = {0, 0x71, 0x0E, 0x05, 0, 0, 0, 0x01, 0, 0, 0, 0x69, 0xE3, 0xBE, 0x93, 0x22, 0x03, 0, 0};
    Report erase5Filled = erase5;
    for (size_t i = 19; i < REPORT_SIZE; ++i) erase5Filled[i] = 0xCC;
    EXPECT_EQ(bench.device.written[1], erase5Filled);

    EXPECT_EQ(bench.sink.events, (std::vector<std::string>{"begin 3", "written 2", "written 1", "last written",
                                                           "verified 2", "verified 1", "complete"}));
    EXPECT_TRUE(bench.FlashHolds(layout));
}

TEST(ProgramSequence, LayoutsAtTheEdges)
{
    struct Case {
        Layout layout;
        std::vector<std::string> log;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        // No tail: block 5 is erased and left so; write and read with count 0.
        {{4, 5, 0},
         {"TEST C5B484A1 00000002", "ERASE 4", "WRITE 64 16", "ERASE 5", "WRITE 80 0", "READ 64 16", "READ 80 0"},
         {"begin 2", "written 1", "last written", "verified 1", "complete"}},
        // One block: no per-block events at all.
        {{20, 20, 16},
         {"TEST C5B484A1 00000001", "ERASE 20", "WRITE 320 16", "READ 320 16"},
         {"begin 1", "last written", "complete"}},
        // The very last block of the flash.
        {{511, 511, 1},
         {"TEST C5B484A1 00000001", "ERASE 511", "WRITE 8176 1", "READ 8176 1"},
         {"begin 1", "last written", "complete"}},
    };
    for (const Case& c : cases) {
        Bench bench;
        // Dirty the span first: every byte must come from the image or the erase.
        std::memset(bench.device.device.Flash() + size_t(c.layout.first) * FLASH_BLOCK_SIZE, 0x00,
                    size_t(c.layout.last - c.layout.first + 1) * FLASH_BLOCK_SIZE);
        EXPECT_EQ(bench.Program(c.layout).mismatches, 0u) << c.layout.first;
        EXPECT_EQ(bench.device.log, c.log);
        EXPECT_EQ(bench.sink.events, c.events);
        EXPECT_TRUE(bench.FlashHolds(c.layout)) << c.layout.first;
    }
}

TEST(ProgramSequence, FaultsShowInTheMismatchCount)
{
    // Programming {3, 4, 2} takes 1 + 1 + (1 + 64) + 1 + (1 + 8) = 77 reports.
    struct Case {
        const char* name;
        SimulatorOptions options;
        uint32_t mismatches;
    };
    SimulatorOptions corrupt;
    corrupt.corruptReadBack = true;
    corrupt.corruptOffset = 3 * FLASH_BLOCK_SIZE + 100;
    corrupt.corruptLength = 5;
    SimulatorOptions silent;
    silent.stopAnsweringAfter = 77 + 1 + 10;  // the read of block 3 gets 10 data reports
    SimulatorOptions unplugged;
    unplugged.unplugAfter = 77 + 1 + 64 + 1 + 3;  // gone during the tail's answer, which is lost with it
    const Case cases[] = {
        {"corrupt read-back", corrupt, 5},
        {"stops answering", silent, 54 * 64 + 2 * FLASH_PAGE_SIZE},
        {"unplugged", unplugged, 2 * FLASH_PAGE_SIZE},
    };
    for (const Case& c : cases) {
        Bench bench(c.options);
        const ProgramOutcome outcome = bench.Program({3, 4, 2});
        EXPECT_EQ(outcome.mismatches, c.mismatches) << c.name;
        EXPECT_EQ(bench.sink.events.back(), "complete") << c.name;
    }
}

TEST(ProgramSequence, UnplugDuringWriteFailsEveryLaterCommandPromptly)
{
    SimulatorOptions options;
    options.unplugAfter = 1 + 1 + 1 + 20;  // the 20th data report of block 3 is the last one taken
    Bench bench(options);
    const ProgramOutcome outcome = bench.Program({3, 4, 2});
    // Nothing was verified: every byte of the image counts.
    EXPECT_EQ(outcome.mismatches, FLASH_BLOCK_SIZE + 2 * FLASH_PAGE_SIZE);
    EXPECT_EQ(bench.device.written.size(), 23u);
    EXPECT_EQ(bench.device.log, (std::vector<std::string>{"TEST C5B484A1 00000002", "ERASE 3", "WRITE 48 16"}));
}

TEST(ProgramSequence, StopRequestEndsBetweenCommands)
{
    Bench bench;
    bench.sink.stopAfterEvents = 2;  // after "begin" and the first block written
    const ProgramOutcome outcome = bench.Program({3, 6, 1});
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(bench.sink.events, (std::vector<std::string>{"begin 4", "written 3"}));
    // Block 3 is complete; nothing of block 4 was sent.
    EXPECT_EQ(bench.device.log, (std::vector<std::string>{"TEST C5B484A1 00000004", "ERASE 3", "WRITE 48 16"}));
    EXPECT_EQ(bench.device.written.size(), 3u + 64u);
}

// A transport that fails its Nth write, to see the data-phase totals.
struct FailingWrite : CReportTransport {
    int failAt;
    int writes = 0;
    explicit FailingWrite(int n) : failAt(n) {}
    int ReadReport(uint8_t*, uint32_t* count) override
    {
        if (count) *count = 0;
        return 0;
    }
    int WriteReport(const uint8_t*, uint32_t* count) override
    {
        const bool ok = ++writes != failAt;
        if (count) *count = ok ? REPORT_SIZE : 0;
        return ok;
    }
};

std::vector<std::string> g_lines;
void Collect(const char* line)
{
    g_lines.emplace_back(line);
}

TEST(CommandPort, ResultsAndDiagnosticsOfFailures)
{
    struct Case {
        int failAt;  // 1: the command report itself
        uint32_t written;
        const char* line;
    };
    const Case cases[] = {
        {1, 0, "ERROR: Send write command error!\n"},
        {2, 0, "ERROR: Write fail!\n"},
        {4, 128, "ERROR: Write fail!\n"},
        {0, 512, nullptr},
    };
    uint8_t source[512] = {};
    for (const Case& c : cases) {
        FailingWrite transport(c.failAt);
        uint8_t report[REPORT_SIZE];
        CommandBlock last;
        CCommandPort port(transport, report, last, Collect);
        g_lines.clear();
        EXPECT_EQ(port.WritePages(10, 2, source), c.written) << c.failAt;
        EXPECT_EQ(g_lines, c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
        // The record of the last command holds the write, sent or not.
        EXPECT_EQ(last.bytes[0], CMD_WRITE);
    }

    FailingWrite transport(0);
    uint8_t report[REPORT_SIZE];
    CommandBlock last;
    CCommandPort port(transport, report, last, Collect);
    g_lines.clear();
    uint8_t destination[256];
    EXPECT_EQ(port.ReadPages(8175, 1, destination), 0u);
    EXPECT_EQ(g_lines, std::vector<std::string>{"ERROR: Read fail!\n"});
    // A page count of 0 still sends its command and moves nothing.
    EXPECT_EQ(port.ReadPages(80, 0, destination), 0u);
    EXPECT_EQ(transport.writes, 2);
}

}  // namespace
