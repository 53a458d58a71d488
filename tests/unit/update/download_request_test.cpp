// What every download sends: the user agent formed from the millisecond
// timer, the request header passed with its length, and the access type.
#include "update/download_deadline.h"
#include "update/download_request.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(DownloadRequest, UserAgentIsTheTimerAsSigned32BitDecimal)
{
    const struct {
        uint32_t milliseconds;
        const char* agent;
    } cases[] = {
        {0, "Agent0"},
        {5584267, "Agent5584267"},
        {2147483647u, "Agent2147483647"},
        {2147483648u, "Agent-2147483648"},  // 24.8 days of uptime: the sign shows
        {4294967295u, "Agent-1"},
    };
    for (const auto& c : cases) {
        char agent[USER_AGENT_SIZE];
        FormatUserAgent(agent, c.milliseconds);
        EXPECT_STREQ(agent, c.agent) << c.milliseconds;
    }
}

TEST(DownloadRequest, AcceptHeaderIsFifteenBytesEndingInTwoLineBreaks)
{
    EXPECT_EQ(std::strlen(ACCEPT_HEADER), ACCEPT_HEADER_LENGTH);
    EXPECT_EQ(std::memcmp(ACCEPT_HEADER, "Accept: */*\r\n\r\n", 15), 0);
}

TEST(DownloadRequest, HttpsAddsTlsToTheSameFlagsAndNeverIgnoresCertificates)
{
    EXPECT_EQ(DownloadRequestFlags("http://127.0.0.1/BRELM/Door/R100.Bin"), 0x84000100u);
    EXPECT_EQ(DownloadRequestFlags("https://localhost/BRELM/Door/R100.Bin"), 0x84800100u);
    EXPECT_EQ(DownloadRequestFlags("https://updates.example.org:8443/BRELM/Pool/X"), 0x84800100u);
    // INTERNET_FLAG_IGNORE_CERT_CN_INVALID and _DATE_INVALID are never set.
    EXPECT_EQ(DownloadRequestFlags("https://localhost/") & 0x00003000u, 0u);
}

// Wine 8 reports 0x12 (LAN, configured) and never the proxy flag.
TEST(DownloadRequest, AccessTypeFollowsTheProxyFlag)
{
    const struct {
        uint32_t connectionFlags;
        uint32_t accessType;
    } cases[] = {
        {0x05, 0},  // modem and proxy: the system's whole configuration
        {0x12, 4},  // LAN, configured, no proxy flag: no automatic proxy discovery
    };
    for (const auto& c : cases) EXPECT_EQ(DownloadAccessType(c.connectionFlags), c.accessType) << c.connectionFlags;
}

// Each file's total deadline grows with the most it may hold; tests shorten
// it with "FLOOR_MS,BYTES_PER_SECOND", and nothing else is taken.
TEST(DownloadRequest, DeadlineGrowsWithTheFile)
{
    const DownloadDeadline standard;
    EXPECT_EQ(DownloadDeadlineMs(0, standard), 20000u);
    EXPECT_EQ(DownloadDeadlineMs(16384, standard), 22000u);                    // a catalogue buffer
    EXPECT_EQ(DownloadDeadlineMs(2u * 1024 * 1024, standard), 20000u + 256000u);  // the largest image

    DownloadDeadline rule;
    ASSERT_TRUE(ParseDownloadDeadline("3000,100000", rule));
    EXPECT_EQ(DownloadDeadlineMs(20384, rule), 3203u);
    for (const char* bad : {"", "3000", "3000,", ",100", "3000,0", "-1,100", "3000,100x", "99999999999,1"}) {
        DownloadDeadline unchanged;
        EXPECT_FALSE(ParseDownloadDeadline(bad, unchanged)) << bad;
        EXPECT_EQ(unchanged.floorMs, standard.floorMs) << bad;
    }
}
