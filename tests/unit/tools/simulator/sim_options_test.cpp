#include "tools/simulator/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Parse(std::vector<const char*> args, SimulatorCommandLine& out, std::string& error)
{
    args.insert(args.begin(), "ruvo-sim");
    return ParseSimulatorCommandLine(static_cast<int>(args.size()), args.data(), out, error);
}

TEST(SimulatorCommandLine, FullContract)
{
    SimulatorCommandLine c;
    std::string error;
    ASSERT_TRUE(Parse({"--pipe",
                       "sim-1",
                       "--info",
                       "21030a1F414243020000000052564F31",
                       "--flash-in",
                       "Z:\\in.bin",
                       "--dump",
                       "Z:\\out.bin",
                       "--log",
                       "Z:\\log.txt",
                       "--report-us",
                       "1000",
                       "--erase-ms",
                       "25",
                       "--stop-after",
                       "70",
                       "--unplug-after",
                       "0x100",
                       "--hang-after",
                       "690",
                       "--corrupt-offset",
                       "0x1FEF05",
                       "--corrupt-length",
                       "5",
                       "--spares",
                       "6"},
                      c, error))
        << error;
    EXPECT_EQ(c.pipe, "\\\\.\\pipe\\sim-1");
    EXPECT_TRUE(c.hasInfo);
    EXPECT_EQ(c.info[0], 0x21);
    EXPECT_EQ(c.info[2], 0x0A);
    EXPECT_EQ(c.info[15], '1');
    EXPECT_EQ(c.flashIn, "Z:\\in.bin");
    EXPECT_EQ(c.dumpFile, "Z:\\out.bin");
    EXPECT_EQ(c.logFile, "Z:\\log.txt");
    EXPECT_EQ(c.device.reportDelayUs, 1000u);
    EXPECT_EQ(c.device.eraseDelayMs, 25u);
    EXPECT_EQ(c.device.stopAnsweringAfter, 70u);
    EXPECT_EQ(c.device.unplugAfter, 256u);
    EXPECT_EQ(c.device.hangAfter, 690u);
    EXPECT_TRUE(c.device.corruptReadBack);
    EXPECT_EQ(c.device.corruptOffset, 0x1FEF05u);
    EXPECT_EQ(c.device.corruptLength, 5u);
    EXPECT_EQ(c.spares, 6u);
}

TEST(SimulatorCommandLine, DefaultsLeaveTheDeviceHealthy)
{
    SimulatorCommandLine c;
    std::string error;
    ASSERT_TRUE(Parse({"--pipe", "\\\\.\\pipe\\x"}, c, error)) << error;
    EXPECT_EQ(c.pipe, "\\\\.\\pipe\\x");  // a full path is kept as it is
    EXPECT_FALSE(c.hasInfo);
    EXPECT_EQ(c.device.stopAnsweringAfter, SIM_NEVER);
    EXPECT_EQ(c.device.unplugAfter, SIM_NEVER);
    EXPECT_EQ(c.device.hangAfter, SIM_NEVER);
    EXPECT_FALSE(c.device.corruptReadBack);
    EXPECT_EQ(c.device.reportDelayUs, 0u);
}

TEST(SimulatorCommandLine, SocketPathIsKeptAsGiven)
{
    SimulatorCommandLine c;
    std::string error;
    ASSERT_TRUE(Parse({"--socket", "/tmp/ruvo/sim.sock", "--unplug-after", "9"}, c, error)) << error;
    EXPECT_EQ(c.socket, "/tmp/ruvo/sim.sock");
    EXPECT_TRUE(c.pipe.empty());
    EXPECT_EQ(c.device.unplugAfter, 9u);
}

TEST(SimulatorCommandLine, HidrawNodeWithItsAccessAndFault)
{
    SimulatorCommandLine c;
    std::string error;
    ASSERT_TRUE(Parse({"--hidraw", "3", "--node-mode", "0600", "--node-group", "100", "--fail-write-after", "0x10"}, c,
                      error))
        << error;
    EXPECT_EQ(c.hidraw, 3);
    EXPECT_EQ(c.nodeMode, 0600u);
    EXPECT_EQ(c.nodeGroup, 100u);
    EXPECT_EQ(c.device.failWriteAfter, 16u);
    ASSERT_TRUE(Parse({"--hidraw", "0"}, c, error)) << error;
    EXPECT_EQ(c.nodeMode, 0660u);  // root and its group, as a udev rule would leave it
    EXPECT_EQ(c.device.failWriteAfter, SIM_NEVER);
}

TEST(SimulatorCommandLine, RejectsMalformedInput)
{
    const std::vector<std::vector<const char*>> cases = {
        {},
        {"--info", "00112233445566778899AABBCCDDEEFF"},  // no pipe
        {"--pipe", "x", "--info", "0011"},               // short record
        {"--pipe", "x", "--info", "00112233445566778899AABBCCDDEEFG"},
        {"--pipe", "x", "--stop-after", "-1"},
        {"--pipe", "x", "--stop-after", "12abc"},
        {"--pipe", "x", "--corrupt-offset", "2097152"},  // past the flash
        {"--pipe", "x", "--spares", "1"},
        {"--pipe", "x", "--log"},  // value missing
        {"--pipe", "x", "--bogus", "1"},
        {"--pipe", "x", "--socket", "/tmp/s"},  // one front end or the other
        {"--socket", ""},
        {"--hidraw", "16"},                                    // past hidraw15
        {"--hidraw", "0", "--socket", "/tmp/s"},               // one front end only
        {"--hidraw", "0", "--node-mode", "0800"},              // not octal
        {"--hidraw", "0", "--node-mode", "01777"},             // more than permissions
        {"--socket", "/tmp/s", "--fail-write-after", "3"},     // only a hidraw node fails one write
    };
    for (const auto& args : cases) {
        SimulatorCommandLine c;
        std::string error;
        EXPECT_FALSE(Parse(args, c, error)) << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
