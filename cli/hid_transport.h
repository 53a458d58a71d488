#pragma once
// The report transport over a HID device opened through hidapi. hidraw moves
// unnumbered reports without the report id byte on input; the adapter gives
// the command operations whole 65-byte reports with byte 0 = 0 both ways.
// The device calls sit behind CHidDevice so the adapter is tested with a fake.
#include <cstddef>
#include <cstdint>

#include "device/report_transport.h"

constexpr int HID_TRANSFER_BOUND_MS = 5000;

class CHidDevice {
public:
    virtual ~CHidDevice() = default;
    // As hid_write: `data[0]` is the report id (0), returns bytes written or -1.
    virtual int Write(const uint8_t* data, size_t length) = 0;
    // As hid_read_timeout: the report without its id, 0 on time-out, -1 on failure.
    virtual int Read(uint8_t* data, size_t length, int milliseconds) = 0;
};

class CHidTransport : public CReportTransport {
public:
    explicit CHidTransport(CHidDevice& device, int boundMs = HID_TRANSFER_BOUND_MS)
        : m_device(device), m_boundMs(boundMs)
    {
    }
    int ReadReport(uint8_t* buffer, uint32_t* count) override;
    int WriteReport(const uint8_t* buffer, uint32_t* count) override;
    bool Gone() const { return m_gone; }

private:
    CHidDevice& m_device;
    int m_boundMs;
    bool m_gone = false;  // a transfer failed or timed out: every later one fails at once
};
