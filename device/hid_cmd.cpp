// The command protocol on top of CHidIO: command reports and their data
// phases, all through the one global g_hidCmd.
#include "device/hid_cmd.h"

#include <cstdio>
#include <cstring>

CHidCmd g_hidCmd;
CommandBlock g_commandBlock;

CHidCmd::CHidCmd() : m_report{} {}

CHidCmd::~CHidCmd() = default;

static void PrintLine(const char* line)
{
    std::fputs(line, stdout);
    std::fflush(stdout);
}

static int SendCommand(const CommandBlock& block)
{
    BuildCommandReport(block, g_hidCmd.m_report);
    return g_hidCmd.m_io.WriteReport(g_hidCmd.m_report, nullptr);
}

// Payload bytes a completed report carries towards the goal. A report always
// moves 65 bytes; should one report another count, at most 64 bytes and never
// more than the rest of the page run are taken, so neither the source nor the
// destination is touched past pageCount * 256.
static uint32_t PayloadOf(uint32_t moved, uint32_t remaining)
{
    uint32_t payload = moved > 0 ? moved - 1 : 0;
    if (payload > REPORT_PAYLOAD_SIZE) payload = REPORT_PAYLOAD_SIZE;
    if (payload > remaining) payload = remaining;
    return payload;
}

int Connect()
{
    return g_hidCmd.m_io.OpenDevice();
}

void SendTestCommand(uint32_t subCode, uint32_t value)
{
    CommandBlock block;
    FillCommandBlock(block, CMD_TEST, subCode, value);
    if (!SendCommand(block)) PrintLine("ERROR: Send test command error!\n");
}

int EraseBlock(uint32_t block)
{
    FillCommandBlock(g_commandBlock, CMD_ERASE, block, 1);
    if (!SendCommand(g_commandBlock)) {
        PrintLine("ERROR: Send erase command error!\n");
        return 0;
    }
    return 1;
}

uint32_t WritePages(uint32_t firstPage, uint32_t pageCount, const uint8_t* source)
{
    FillCommandBlock(g_commandBlock, CMD_WRITE, firstPage, pageCount);
    if (!SendCommand(g_commandBlock)) {
        PrintLine("ERROR: Send write command error!\n");
        return 0;
    }
    const uint32_t goal = pageCount << 8;
    uint32_t total = 0;
    uint8_t* report = g_hidCmd.m_report;
    while (total < goal) {
        const uint32_t chunk = goal - total < REPORT_PAYLOAD_SIZE ? goal - total : REPORT_PAYLOAD_SIZE;
        std::memset(report, COMMAND_REPORT_FILL, REPORT_SIZE);
        report[0] = 0;
        std::memcpy(report + 1, source + total, chunk);
        uint32_t moved = 0;
        // A report that carried no payload is a failure too: counting it would
        // either stall the loop or wrap the total.
        const uint32_t payload = g_hidCmd.m_io.WriteReport(report, &moved) ? PayloadOf(moved, chunk) : 0;
        if (payload == 0) {
            PrintLine("ERROR: Write fail!\n");
            return total;
        }
        total += payload;
    }
    return total;
}

uint32_t ReadPages(uint32_t firstPage, uint32_t pageCount, uint8_t* destination)
{
    FillCommandBlock(g_commandBlock, CMD_READ, firstPage, pageCount);
    if (!SendCommand(g_commandBlock)) {
        PrintLine("ERROR: Send read command error!\n");
        return 0;
    }
    const uint32_t goal = pageCount << 8;
    uint32_t total = 0;
    uint8_t* report = g_hidCmd.m_report;
    while (total < goal) {
        uint32_t moved = 0;
        const uint32_t payload = g_hidCmd.m_io.ReadReport(report, &moved) ? PayloadOf(moved, goal - total) : 0;
        if (payload == 0) {
            PrintLine("ERROR: Read fail!\n");
            return total;
        }
        std::memcpy(destination + total, report + 1, payload);
        total += payload;
    }
    return total;
}
