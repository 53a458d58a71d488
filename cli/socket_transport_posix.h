#pragma once
// The report transport to a simulated device behind a local socket
// (ruvo-sim --socket PATH): one SOCK_SEQPACKET message per report, each
// transfer bounded by poll().
#include <string>

#include "cli/device_access.h"  // OpenStatus
#include "device/report_transport.h"

constexpr int SOCKET_TRANSFER_BOUND_MS = 5000;  // as the program's bound: room for erase and programming

class CSocketTransport : public CReportTransport {
public:
    ~CSocketTransport() override;
    // Never IN_USE: the simulator takes one client at a time by itself.
    OpenStatus Open(const std::string& path, int boundMs = SOCKET_TRANSFER_BOUND_MS);

    int ReadReport(uint8_t* buffer, uint32_t* count) override;
    int WriteReport(const uint8_t* buffer, uint32_t* count) override;

private:
    bool Wait(short events);
    int m_fd = -1;
    int m_boundMs = SOCKET_TRANSFER_BOUND_MS;
    bool m_gone = false;  // a transfer failed or timed out: every later one fails at once
};
