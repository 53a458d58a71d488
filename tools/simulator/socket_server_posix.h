#pragma once
// The native front end's transport: the simulated device behind a local
// (unix) socket of type SOCK_SEQPACKET, so every message is one report and
// its length arrives with it. One client at a time; the next connect waits in
// the backlog until the current client closes.
#include <cstdint>
#include <functional>
#include <string>

#include "tools/simulator/posix_support.h"
#include "tools/simulator/sim_device.h"

class CSocketServer : private DeviceLink {
public:
    using CommandLog = std::function<void(const char*)>;
    CSocketServer(SimulatedDevice& device, CommandLog log) : m_device(device), m_log(std::move(log)) {}
    ~CSocketServer() override;

    // Binds and listens at `path` (a stale socket file there is replaced).
    bool Start(const std::string& path);
    // Serves until `stopFd` is readable and reports end of file or "quit".
    void Serve(int stopFd);

private:
    void SendReport(const uint8_t (&report)[REPORT_SIZE]) override;
    void LogCommand(const char* line) override { m_log(line); }
    void Pause(uint32_t microseconds) override;
    void CloseClient();
    void Unplug();

    SimulatedDevice& m_device;
    CommandLog m_log;
    std::string m_path;
    int m_listen = -1;
    int m_client = -1;
    CPacer m_pacer;
};
