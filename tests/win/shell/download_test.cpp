// DownloadFile against the loopback test server (see download_server.sh).
#include "recording_platform.h"
#include "shell/download.h"
#include "shell/messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Url(const char* path)
{
    return std::string("http://127.0.0.1:") + DOWNLOAD_TEST_PORT + "/" + path;
}

// The server's generated bodies: byte i is (7i + i/256) mod 256.
uint8_t GeneratedByte(uint32_t i)
{
    return static_cast<uint8_t>(i * 7 + (i >> 8));
}

std::vector<std::string> LoggedUserAgents()
{
    std::ifstream log(DOWNLOAD_TEST_LOG);
    std::vector<std::string> agents;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string method, path, agent;
        std::getline(fields, method, '\t');
        std::getline(fields, path, '\t');
        std::getline(fields, agent, '\t');
        agents.push_back(agent);
    }
    return agents;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override { g_platform = RecordingPlatform(); }
};

TEST_F(Download, EmptyBodyGivesZeroWithoutBox)
{
    uint8_t buffer[64];
    EXPECT_EQ(DownloadFile(Url("empty.bin").c_str(), buffer, sizeof buffer), 0);
    EXPECT_TRUE(g_platform.boxes.empty());
}

TEST_F(Download, OneMebibyteArrivesByteExact)
{
    std::vector<uint8_t> buffer(1 << 20);
    ASSERT_EQ(DownloadFile(Url("one-mib.bin").c_str(), buffer.data(), buffer.size()), 1 << 20);
    for (uint32_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], GeneratedByte(i)) << "at byte " << i;
    EXPECT_TRUE(g_platform.boxes.empty());
}

TEST_F(Download, EachCallSendsItsOwnUserAgent)
{
    uint8_t buffer[64];
    ASSERT_EQ(DownloadFile(Url("empty.bin?first").c_str(), buffer, sizeof buffer), 0);
    Sleep(20);
    ASSERT_EQ(DownloadFile(Url("empty.bin?second").c_str(), buffer, sizeof buffer), 0);

    std::vector<std::string> agents = LoggedUserAgents();
    ASSERT_GE(agents.size(), 2u);
    const std::string& first = agents[agents.size() - 2];
    const std::string& second = agents.back();
    for (const std::string& agent : {first, second}) {
        ASSERT_EQ(agent.rfind("Agent", 0), 0u) << agent;
        EXPECT_NE(agent.find_first_of("0123456789"), std::string::npos) << agent;
    }
    EXPECT_NE(first, second);
}

TEST_F(Download, ErrorPageBodyIsReturnedAsData)
{
    char buffer[256] = {};
    int32_t length = DownloadFile(Url("error-page.bin").c_str(), reinterpret_cast<uint8_t*>(buffer), sizeof buffer - 1);
    ASSERT_GT(length, 0);
    EXPECT_NE(std::string(buffer, length).find("404"), std::string::npos);
    EXPECT_TRUE(g_platform.boxes.empty());
}

// The destination's capacity bounds the body; guard bytes follow it.
struct CapacityCase {
    const char* name;
    const char* path;
    uint32_t capacity;
    int32_t result;
};

void PrintTo(const CapacityCase& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadCapacity : public Download, public ::testing::WithParamInterface<CapacityCase> {};

TEST_P(DownloadCapacity, BodyLongerThanTheDestinationIsRefusedWithoutOverrun)
{
    const CapacityCase& c = GetParam();
    std::vector<uint8_t> buffer(c.capacity + 64, 0xEE);
    EXPECT_EQ(DownloadFile(Url(c.path).c_str(), buffer.data(), c.capacity), c.result);
    for (size_t i = c.capacity; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0xEE) << "written past the destination at " << i;
    if (c.result >= 0) {
        EXPECT_TRUE(g_platform.boxes.empty());
        return;
    }
    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].text, TEXT_FILE_TOO_LARGE);
    EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_NETWORK);
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadCapacity,
                         ::testing::Values(CapacityCase{"LongerBody", "too-long.bin", 16384, -1},  // 20000 bytes
                                           CapacityCase{"BodyFillingTheDestination", "too-long.bin", 20000, 20000},
                                           // 16385 bytes: the last read brings the one byte too many.
                                           CapacityCase{"OneByteOverInTheLastRead", "one-over.bin", 16384, -1}),
                         [](const ::testing::TestParamInfo<CapacityCase>& info) {
                             return std::string(info.param.name);
                         });

struct FailureCase {
    const char* name;
    const char* url;  // full URL
    bool failInternetOpen;
    const wchar_t* text;
    UINT icon;
};

class DownloadFailure : public Download, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DownloadFailure, ShowsItsBoxAndReturnsMinusOne)
{
    const FailureCase& c = GetParam();
    g_platform.failInternetOpen = c.failInternetOpen;
    std::vector<uint8_t> buffer(200000);
    EXPECT_EQ(DownloadFile(c.url, buffer.data(), buffer.size()), -1);
    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].text, c.text);
    EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_NETWORK);
    EXPECT_EQ(g_platform.boxes[0].icon, c.icon);
}

const std::string RESET_URL = Url("reset.bin");
const std::string ANY_URL = Url("empty.bin");

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadFailure,
    ::testing::Values(FailureCase{"InternetHandleUnavailable", ANY_URL.c_str(), true, TEXT_NOT_CONNECTED, MB_ICONERROR},
                      // Port 9 on loopback: nothing listens, the connection is refused at once.
                      FailureCase{"ServerDown", "http://127.0.0.1:9/BRELM/Door/ABCD.Bin", false,
                                  TEXT_CANNOT_REACH_SERVER, MB_ICONINFORMATION},
                      FailureCase{"ConnectionResetMidBody", RESET_URL.c_str(), false, TEXT_READ_FAILED,
                                  MB_ICONINFORMATION}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(Download, ReadFailureKeepsTheChunksReceivedBefore)
{
    std::vector<uint8_t> buffer(200000, 0);
    ASSERT_EQ(DownloadFile(RESET_URL.c_str(), buffer.data(), buffer.size()), -1);
    // At least the first chunk arrived before the reset and stays in place.
    for (uint32_t i = 0; i < 16384; ++i) ASSERT_EQ(buffer[i], GeneratedByte(i)) << "at byte " << i;
}

TEST_F(Download, BodyCutShortEndsAsShortSuccess)
{
    // WinINet reports a body closed before its announced length as complete;
    // the package check then refuses it by its length.
    std::vector<uint8_t> buffer(200000);
    EXPECT_EQ(DownloadFile(Url("cut.bin").c_str(), buffer.data(), buffer.size()), 40000);
    EXPECT_TRUE(g_platform.boxes.empty());
}

TEST_F(Download, SlowBodyArrivesWhole)
{
    std::vector<uint8_t> buffer(8192);
    ASSERT_EQ(DownloadFile(Url("slow.bin").c_str(), buffer.data(), buffer.size()), 8192);
    for (uint32_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], GeneratedByte(i));
}

}  // namespace
