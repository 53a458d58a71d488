#pragma once
// The simulated device as a report transport in the caller's own process: a
// write hands the report to the device at once, a read takes the next report
// the device answered. No waiting: a device that stops answering fails the
// read at once, as a bounded transfer would after its bound, and a hung one
// fails the write the same way. For native tests
// of the command operations and the programming sequence.
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "device/report_transport.h"
#include "tools/simulator/sim_device.h"

class CInProcessDevice : public CReportTransport, private DeviceLink {
public:
    explicit CInProcessDevice(const SimulatorOptions& options = SimulatorOptions()) : device(options) {}

    int ReadReport(uint8_t* buffer, uint32_t* count) override;
    int WriteReport(const uint8_t* buffer, uint32_t* count) override;

    SimulatedDevice device;
    std::vector<std::array<uint8_t, REPORT_SIZE>> written;  // every report the host wrote, as written
    std::vector<std::string> log;                           // the device's command log

private:
    void SendReport(const uint8_t (&report)[REPORT_SIZE]) override;
    void LogCommand(const char* line) override { log.emplace_back(line); }
    void Pause(uint32_t) override {}

    std::deque<std::array<uint8_t, REPORT_SIZE>> m_answers;
};
