#pragma once
// One 65-byte HID report in or out per call, each call bounded in time: the
// contract the command operations work over. Back ends: CHidIO through its
// adapter (Windows), hidapi (Linux), the simulator's socket and in-process
// links. Portable: no platform header.
#include <cstdint>

#include "device/flash_geometry.h"

class CReportTransport {
public:
    virtual ~CReportTransport() = default;

    // `buffer` holds REPORT_SIZE bytes, byte 0 the report id (0 on output).
    // `count` (optional) receives the bytes moved, 0 on failure. 1 on success,
    // 0 on failure; a transfer that does not complete within the back end's
    // bound fails, and from then on every transfer fails at once.
    virtual int ReadReport(uint8_t* buffer, uint32_t* count) = 0;
    virtual int WriteReport(const uint8_t* buffer, uint32_t* count) = 0;
};
