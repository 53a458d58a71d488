#pragma once
// The device command protocol: CHidCmd (the one report buffer and its
// transport), the global g_hidCmd every operation works on, and the five
// operations the rest of the program uses. Failures are results plus one
// "ERROR: ..." line on standard output.
#include <cstdint>

#include "device/command_block.h"
#include "device/flash_geometry.h"
#include "device/hid_io.h"

class CHidCmd {
public:
    CHidCmd();
    virtual ~CHidCmd();
    CHidCmd(const CHidCmd&) = delete;
    CHidCmd& operator=(const CHidCmd&) = delete;

    uint8_t m_report[REPORT_SIZE];  // every report in both directions passes here
    CHidIO m_io;
};

extern CHidCmd g_hidCmd;
extern CommandBlock g_commandBlock;  // last erase, write or read command

// Discovery only: 1 when the device was found and opened, 0 otherwise.
int Connect();

// Test command (no data phase); failures only print a line.
void SendTestCommand(uint32_t subCode, uint32_t value);

// 1 when the erase command report was sent, 0 otherwise.
int EraseBlock(uint32_t block);

// Data bytes sent / received; pageCount * 256 when every report went through.
// `source` / `destination` hold pageCount * 256 bytes.
uint32_t WritePages(uint32_t firstPage, uint32_t pageCount, const uint8_t* source);
uint32_t ReadPages(uint32_t firstPage, uint32_t pageCount, uint8_t* destination);

// The command port the five operations above go through (g_hidCmd's
// transport, report buffer and g_commandBlock), for ProgramImage.
class CCommandPort;
CCommandPort& GlobalCommandPort();
