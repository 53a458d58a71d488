// Command reports and their data phases: one command report, then one report
// per 64 data bytes, back to back, with no acknowledgement in between.
#include "device/command_port.h"

#include <cstdio>
#include <cstring>

void PrintDiagnosticToStdout(const char* line)
{
    std::fputs(line, stdout);
    std::fflush(stdout);
}

CCommandPort::CCommandPort(CReportTransport& transport, uint8_t (&report)[REPORT_SIZE], CommandBlock& lastCommand,
                           DiagnosticLine diagnostic)
    : m_transport(transport), m_report(report), m_lastCommand(lastCommand), m_diagnostic(diagnostic)
{
}

void CCommandPort::Diagnose(const char* line)
{
    if (m_diagnostic != nullptr) m_diagnostic(line);
}

int CCommandPort::SendCommand(const CommandBlock& block)
{
    BuildCommandReport(block, m_report);
    return m_transport.WriteReport(m_report, nullptr);
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

void CCommandPort::SendTestCommand(uint32_t subCode, uint32_t value)
{
    // Built in a record of its own: the last erase, write or read stays recorded.
    CommandBlock block;
    FillCommandBlock(block, CMD_TEST, subCode, value);
    if (!SendCommand(block)) Diagnose("ERROR: Send test command error!\n");
}

int CCommandPort::EraseBlock(uint32_t block)
{
    FillCommandBlock(m_lastCommand, CMD_ERASE, block, 1);
    if (!SendCommand(m_lastCommand)) {
        Diagnose("ERROR: Send erase command error!\n");
        return 0;
    }
    return 1;
}

uint32_t CCommandPort::WritePages(uint32_t firstPage, uint32_t pageCount, const uint8_t* source)
{
    FillCommandBlock(m_lastCommand, CMD_WRITE, firstPage, pageCount);
    if (!SendCommand(m_lastCommand)) {
        Diagnose("ERROR: Send write command error!\n");
        return 0;
    }
    const uint32_t goal = pageCount << 8;
    uint32_t total = 0;
    while (total < goal) {
        const uint32_t chunk = goal - total < REPORT_PAYLOAD_SIZE ? goal - total : REPORT_PAYLOAD_SIZE;
        std::memset(m_report, COMMAND_REPORT_FILL, REPORT_SIZE);
        m_report[0] = 0;
        std::memcpy(m_report + 1, source + total, chunk);
        uint32_t moved = 0;
        // A report that carried no payload is a failure too: counting it would
        // either stall the loop or wrap the total.
        const uint32_t payload = m_transport.WriteReport(m_report, &moved) ? PayloadOf(moved, chunk) : 0;
        if (payload == 0) {
            Diagnose("ERROR: Write fail!\n");
            return total;
        }
        total += payload;
    }
    return total;
}

uint32_t CCommandPort::ReadPages(uint32_t firstPage, uint32_t pageCount, uint8_t* destination)
{
    FillCommandBlock(m_lastCommand, CMD_READ, firstPage, pageCount);
    if (!SendCommand(m_lastCommand)) {
        Diagnose("ERROR: Send read command error!\n");
        return 0;
    }
    const uint32_t goal = pageCount << 8;
    uint32_t total = 0;
    while (total < goal) {
        uint32_t moved = 0;
        const uint32_t payload = m_transport.ReadReport(m_report, &moved) ? PayloadOf(moved, goal - total) : 0;
        if (payload == 0) {
            Diagnose("ERROR: Read fail!\n");
            return total;
        }
        std::memcpy(destination + total, m_report + 1, payload);
        total += payload;
    }
    return total;
}
