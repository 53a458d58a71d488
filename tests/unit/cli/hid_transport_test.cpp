// The hidapi adapter against a fake device: whole 65-byte reports with byte
// 0 = 0 in both directions, hidraw's id-less input shifted into place, and a
// time-out or failure ending the device for every later transfer.
#include "cli/hid_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

namespace {

struct FakeHid : CHidDevice {
    std::vector<std::vector<uint8_t>> writes;
    std::deque<std::vector<uint8_t>> inputs;  // as hidraw delivers them: no id byte
    int writeResult = 65;
    int reads = 0;
    int lastTimeout = -1;
    int Write(const uint8_t* data, size_t length) override
    {
        writes.emplace_back(data, data + length);
        return writeResult;
    }
    int Read(uint8_t* data, size_t length, int ms) override
    {
        ++reads;
        lastTimeout = ms;
        if (inputs.empty()) return 0;  // nothing within the bound
        const std::vector<uint8_t> next = inputs.front();
        inputs.pop_front();
        const size_t n = next.size() < length ? next.size() : length;
        std::memcpy(data, next.data(), n);
        return int(n);
    }
};

TEST(HidTransport, WritesWholeReportsWithReportIdZero)
{
    FakeHid hid;
    CHidTransport transport(hid);
    uint8_t report[REPORT_SIZE];
    for (size_t i = 0; i < REPORT_SIZE; ++i) report[i] = uint8_t(i + 1);
    uint32_t count = 0;
    ASSERT_EQ(transport.WriteReport(report, &count), 1);
    EXPECT_EQ(count, REPORT_SIZE);
    ASSERT_EQ(hid.writes.size(), 1u);
    ASSERT_EQ(hid.writes[0].size(), REPORT_SIZE);
    EXPECT_EQ(hid.writes[0][0], 0);  // the caller's byte 0 is never sent as an id
    EXPECT_TRUE(std::equal(report + 1, report + REPORT_SIZE, hid.writes[0].begin() + 1));
}

TEST(HidTransport, ReadsPresentByteZeroAndThePayloadBehindIt)
{
    FakeHid hid;
    std::vector<uint8_t> payload(REPORT_PAYLOAD_SIZE);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(0xA0 + i);
    hid.inputs.push_back(payload);
    CHidTransport transport(hid, 1234);
    uint8_t report[REPORT_SIZE];
    std::memset(report, 0x55, sizeof report);
    uint32_t count = 0;
    ASSERT_EQ(transport.ReadReport(report, &count), 1);
    EXPECT_EQ(count, REPORT_SIZE);
    EXPECT_EQ(report[0], 0);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), report + 1));
    EXPECT_EQ(hid.lastTimeout, 1234);  // every read is bounded
}

TEST(HidTransport, TimeOutOrFailureEndsTheDevice)
{
    struct Case {
        const char* name;
        bool failRead;  // else: a write the device did not take whole
        int writeResult;
    };
    const Case cases[] = {{"read time-out", true, 65}, {"write failed", false, -1}, {"short write", false, 30}};
    for (const Case& c : cases) {
        FakeHid hid;
        hid.writeResult = c.writeResult;
        CHidTransport transport(hid);
        uint8_t report[REPORT_SIZE] = {};
        uint32_t count = 99;
        if (c.failRead)
            EXPECT_EQ(transport.ReadReport(report, &count), 0) << c.name;
        else
            EXPECT_EQ(transport.WriteReport(report, &count), 0) << c.name;
        EXPECT_EQ(count, 0u) << c.name;
        EXPECT_TRUE(transport.Gone()) << c.name;
        // Later transfers fail at once, without touching the device.
        hid.writeResult = 65;
        hid.inputs.push_back(std::vector<uint8_t>(64, 1));
        const size_t writes = hid.writes.size();
        const int reads = hid.reads;
        EXPECT_EQ(transport.WriteReport(report, nullptr), 0) << c.name;
        EXPECT_EQ(transport.ReadReport(report, nullptr), 0) << c.name;
        EXPECT_EQ(hid.writes.size(), writes) << c.name;
        EXPECT_EQ(hid.reads, reads) << c.name;
    }
}

}  // namespace
