#include "tools/simulator/sim_device.h"

#include <cstdio>
#include <cstring>

SimulatedDevice::SimulatedDevice(const SimulatorOptions& options) : m_options(options), m_flash(FLASH_SIZE, 0xFF) {}

void SimulatedDevice::SetInfoRecord(const uint8_t (&record)[DEVICE_INFO_SIZE])
{
    std::memcpy(m_flash.data() + static_cast<size_t>(DEVICE_INFO_PAGE) * FLASH_PAGE_SIZE, record, DEVICE_INFO_SIZE);
}

void SimulatedDevice::Moved(DeviceLink& link)
{
    ++m_reportsMoved;
    if (m_options.reportDelayUs > 0) link.Pause(m_options.reportDelayUs);
    if (m_reportsMoved >= m_options.unplugAfter) m_unplugged = true;
}

bool SimulatedDevice::FailThisWrite()
{
    if (m_writeFailed || m_reportsMoved < m_options.failWriteAfter) return false;
    m_writeFailed = true;
    return true;
}

void SimulatedDevice::ReceiveReport(const uint8_t* report, size_t length, DeviceLink& link)
{
    if (m_unplugged || Hung()) return;
    Moved(link);
    // Like a real HID endpoint, anything but a whole 65-byte report is refused.
    if (length != REPORT_SIZE) {
        char line[40];
        std::snprintf(line, sizeof line, "BAD size %zu", length);
        link.LogCommand(line);
        return;
    }
    if (m_writeRemaining > 0) {
        AcceptWriteData(report + 1);
        return;
    }
    uint8_t bytes[COMMAND_BLOCK_SIZE];
    std::memcpy(bytes, report + 1, COMMAND_BLOCK_SIZE);
    ParsedCommand command;
    const CommandCheck check = ParseCommandBlock(bytes, command);
    if (check != CommandCheck::OK) {
        // Logged with its raw bytes and otherwise ignored, as the device would.
        char line[80];
        int used = std::snprintf(line, sizeof line, "BAD %s ", CommandCheckName(check));
        for (size_t i = 0; i < COMMAND_BLOCK_SIZE; ++i)
            used += std::snprintf(line + used, sizeof line - used, "%02X", bytes[i]);
        link.LogCommand(line);
        return;
    }
    Execute(command, link);
}

void SimulatedDevice::Execute(const ParsedCommand& command, DeviceLink& link)
{
    char line[64];
    switch (command.opcode) {
    case CMD_TEST:
        std::snprintf(line, sizeof line, "TEST %08X %08X", command.argument1, command.argument2);
        link.LogCommand(line);
        break;
    case CMD_ERASE:
        // Argument 2 is always 1; anything else is shown so a test can see it.
        if (command.argument2 == 1)
            std::snprintf(line, sizeof line, "ERASE %u", command.argument1);
        else
            std::snprintf(line, sizeof line, "ERASE %u %u", command.argument1, command.argument2);
        link.LogCommand(line);
        if (command.argument1 < FLASH_BLOCK_COUNT) {
            std::memset(m_flash.data() + static_cast<size_t>(command.argument1) * FLASH_BLOCK_SIZE, 0xFF,
                        FLASH_BLOCK_SIZE);
            if (m_options.eraseDelayMs > 0) link.Pause(m_options.eraseDelayMs * 1000u);
        }
        break;
    case CMD_WRITE:
        std::snprintf(line, sizeof line, "WRITE %u %u", command.argument1, command.argument2);
        link.LogCommand(line);
        m_writeOffset = static_cast<uint64_t>(command.argument1) * FLASH_PAGE_SIZE;
        m_writeRemaining = static_cast<uint64_t>(command.argument2) * FLASH_PAGE_SIZE;
        break;
    case CMD_READ:
        std::snprintf(line, sizeof line, "READ %u %u", command.argument1, command.argument2);
        link.LogCommand(line);
        AnswerRead(command.argument1, command.argument2, link);
        break;
    }
}

// Programming NOR flash only clears bits: data lands as flash AND data, so a
// page written without its erase shows up on read-back. Bytes past the end
// of the flash are dropped.
void SimulatedDevice::AcceptWriteData(const uint8_t* payload)
{
    for (size_t i = 0; i < REPORT_PAYLOAD_SIZE; ++i) {
        const uint64_t at = m_writeOffset + i;
        if (at < FLASH_SIZE) m_flash[at] &= payload[i];
    }
    m_writeOffset += REPORT_PAYLOAD_SIZE;
    m_writeRemaining -= REPORT_PAYLOAD_SIZE;
}

// Answers with exactly pageCount * 4 reports: report id 0, then 64 flash
// bytes (0xFF past the end of the flash).
void SimulatedDevice::AnswerRead(uint32_t firstPage, uint32_t pageCount, DeviceLink& link)
{
    uint8_t report[REPORT_SIZE];
    const uint64_t start = static_cast<uint64_t>(firstPage) * FLASH_PAGE_SIZE;
    const uint64_t reports = static_cast<uint64_t>(pageCount) * REPORTS_PER_PAGE;
    for (uint64_t r = 0; r < reports; ++r) {
        if (m_unplugged || Hung() || m_reportsMoved >= m_options.stopAnsweringAfter) return;
        report[0] = 0;
        for (size_t i = 0; i < REPORT_PAYLOAD_SIZE; ++i) {
            const uint64_t at = start + r * REPORT_PAYLOAD_SIZE + i;
            uint8_t value = at < FLASH_SIZE ? m_flash[at] : 0xFF;
            if (m_options.corruptReadBack && at >= m_options.corruptOffset &&
                at - m_options.corruptOffset < m_options.corruptLength)
                value = static_cast<uint8_t>(~value);
            report[1 + i] = value;
        }
        link.SendReport(report);
        Moved(link);
    }
}
