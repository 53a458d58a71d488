#pragma once
// CHidIO seen as a report transport. CHidIO keeps its own shape (no base
// class, its destructor its only virtual operation); this adapter only
// forwards the two transfers.
#include "device/hid_io.h"
#include "device/report_transport.h"

class CHidIOTransport : public CReportTransport {
public:
    explicit CHidIOTransport(CHidIO& io) : m_io(io) {}
    int ReadReport(uint8_t* buffer, uint32_t* count) override { return m_io.ReadReport(buffer, count); }
    int WriteReport(const uint8_t* buffer, uint32_t* count) override { return m_io.WriteReport(buffer, count); }

private:
    CHidIO& m_io;
};
