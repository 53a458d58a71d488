#include "cli/hid_transport.h"

#include <cstring>

int CHidTransport::WriteReport(const uint8_t* buffer, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    if (m_gone) return 0;
    // Byte 0 is the report id; the device has no numbered reports, so it is 0.
    uint8_t report[REPORT_SIZE];
    std::memcpy(report, buffer, REPORT_SIZE);
    report[0] = 0;
    const int written = m_device.Write(report, REPORT_SIZE);
    // hidraw counts the id byte; other back ends may not. Either way it is whole.
    if (written != int(REPORT_SIZE) && written != int(REPORT_PAYLOAD_SIZE)) {
        m_gone = true;
        return 0;
    }
    if (count != nullptr) *count = REPORT_SIZE;
    return 1;
}

int CHidTransport::ReadReport(uint8_t* buffer, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    if (m_gone) return 0;
    const int got = m_device.Read(buffer + 1, REPORT_PAYLOAD_SIZE, m_boundMs);
    if (got <= 0) {
        m_gone = true;  // failed, or nothing within the bound
        return 0;
    }
    buffer[0] = 0;
    // A short report leaves the rest of the buffer as it was; the count says so.
    if (count != nullptr) *count = uint32_t(got) + 1;
    return 1;
}
