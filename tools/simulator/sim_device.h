#pragma once
// The simulated device: 2 MiB of flash and the four commands, driven one
// received report at a time. Portable; a front end (the named-pipe server,
// or a unit test) carries reports in and out through a DeviceLink.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/command_block.h"
#include "device/flash_geometry.h"

constexpr uint64_t SIM_NEVER = UINT64_MAX;

struct SimulatorOptions {
    uint32_t reportDelayUs = 0;  // pause per report moved, either direction
    uint32_t eraseDelayMs = 0;   // pause per block erase
    // Faults. "Reports" counts every report moved in either direction,
    // command reports included.
    uint64_t stopAnsweringAfter = SIM_NEVER;  // no input report once this many have passed
    uint64_t unplugAfter = SIM_NEVER;         // gone once this many have passed
    uint64_t hangAfter = SIM_NEVER;           // hung once this many have passed (takes and answers nothing)
    uint64_t failWriteAfter = SIM_NEVER;      // once this many have passed, one write fails (hidraw only)
    bool corruptReadBack = false;             // invert bytes on their way out...
    uint32_t corruptOffset = 0;               // ...at this flash offset (flash unchanged)
    uint32_t corruptLength = 1;               // ...and the bytes after it, this many in all
};

class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    virtual void SendReport(const uint8_t (&report)[REPORT_SIZE]) = 0;
    // One line per command received, e.g. "ERASE 5" or "BAD checksum ...".
    virtual void LogCommand(const char* line) = 0;
    virtual void Pause(uint32_t microseconds) = 0;
};

class SimulatedDevice {
public:
    explicit SimulatedDevice(const SimulatorOptions& options = SimulatorOptions());

    uint8_t* Flash() { return m_flash.data(); }
    const uint8_t* Flash() const { return m_flash.data(); }
    void SetInfoRecord(const uint8_t (&record)[DEVICE_INFO_SIZE]);

    // One output report from the host, `length` bytes as it arrived. The bytes
    // are read only when `length` is REPORT_SIZE; any other length is logged.
    void ReceiveReport(const uint8_t* report, size_t length, DeviceLink& link);

    bool Unplugged() const { return m_unplugged; }
    bool Hung() const { return m_reportsMoved >= m_options.hangAfter; }
    uint64_t ReportsMoved() const { return m_reportsMoved; }
    bool InWriteDataPhase() const { return m_writeRemaining > 0; }
    // True once, for the first write offered after failWriteAfter reports have
    // passed: the front end fails that write and the device never sees it.
    bool FailThisWrite();

private:
    void Moved(DeviceLink& link);
    void Execute(const ParsedCommand& command, DeviceLink& link);
    void AcceptWriteData(const uint8_t* payload);
    void AnswerRead(uint32_t firstPage, uint32_t pageCount, DeviceLink& link);

    SimulatorOptions m_options;
    std::vector<uint8_t> m_flash;
    uint64_t m_reportsMoved = 0;
    bool m_unplugged = false;
    bool m_writeFailed = false;
    uint64_t m_writeOffset = 0;     // flash offset of the next data report
    uint64_t m_writeRemaining = 0;  // data bytes the current write still expects
};
