#pragma once
// The four device commands and their data phases over any report transport.
// The report buffer and the record of the last erase, write or read command
// belong to the caller, so the program can keep its globals (g_hidCmd,
// g_commandBlock) and a command-line tool its own per device. Portable.
#include <cstdint>

#include "device/command_block.h"
#include "device/flash_geometry.h"
#include "device/report_transport.h"

// Receives each "ERROR: ...\n" diagnostic line; the default prints it to
// standard output.
using DiagnosticLine = void (*)(const char* line);
void PrintDiagnosticToStdout(const char* line);

class CCommandPort {
public:
    CCommandPort(CReportTransport& transport, uint8_t (&report)[REPORT_SIZE], CommandBlock& lastCommand,
                 DiagnosticLine diagnostic = PrintDiagnosticToStdout);

    // Test command (no data phase); failures only print a line.
    void SendTestCommand(uint32_t subCode, uint32_t value);
    // 1 when the erase command report was sent, 0 otherwise.
    int EraseBlock(uint32_t block);
    // Data bytes sent / received; pageCount * 256 when every report went
    // through. `source` / `destination` hold pageCount * 256 bytes.
    uint32_t WritePages(uint32_t firstPage, uint32_t pageCount, const uint8_t* source);
    uint32_t ReadPages(uint32_t firstPage, uint32_t pageCount, uint8_t* destination);

private:
    int SendCommand(const CommandBlock& block);
    void Diagnose(const char* line);

    CReportTransport& m_transport;
    uint8_t (&m_report)[REPORT_SIZE];
    CommandBlock& m_lastCommand;
    DiagnosticLine m_diagnostic;
};
