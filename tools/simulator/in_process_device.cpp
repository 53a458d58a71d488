#include "tools/simulator/in_process_device.h"

#include <cstring>

int CInProcessDevice::WriteReport(const uint8_t* buffer, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    // A hung device takes no report: the write is abandoned, as a bounded
    // transfer would be once its bound passed.
    if (device.Unplugged() || device.Hung()) return 0;
    std::array<uint8_t, REPORT_SIZE> copy;
    std::memcpy(copy.data(), buffer, REPORT_SIZE);
    written.push_back(copy);
    device.ReceiveReport(buffer, REPORT_SIZE, *this);
    if (count != nullptr) *count = REPORT_SIZE;
    return 1;
}

int CInProcessDevice::ReadReport(uint8_t* buffer, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    if (device.Unplugged() || m_answers.empty()) return 0;
    std::memcpy(buffer, m_answers.front().data(), REPORT_SIZE);
    m_answers.pop_front();
    if (count != nullptr) *count = REPORT_SIZE;
    return 1;
}

void CInProcessDevice::SendReport(const uint8_t (&report)[REPORT_SIZE])
{
    std::array<uint8_t, REPORT_SIZE> copy;
    std::memcpy(copy.data(), report, REPORT_SIZE);
    m_answers.push_back(copy);
}
