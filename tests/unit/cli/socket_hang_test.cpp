// The native simulator front end and ruvo-flash's socket transport, in one
// process: a device that hangs takes no further report, so the host's
// writes stall and fail at their bound while the connection stays open.
#include "cli/socket_transport_posix.h"
#include "tools/simulator/socket_server_posix.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

TEST(SocketSimulator, HungDeviceStallsTheHostsWrites)
{
    char folder[] = "/tmp/ruvo-hang.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/sim.sock";
    SimulatorOptions options;
    options.hangAfter = 3;
    SimulatedDevice device(options);
    CSocketServer server(device, [](const char*) {});
    ASSERT_TRUE(server.Start(path));
    int stop[2];
    ASSERT_EQ(pipe(stop), 0);
    std::thread serving([&] { server.Serve(stop[0]); });

    CSocketTransport host;
    ASSERT_EQ(host.Open(path, 200), OpenStatus::OK);
    uint8_t report[REPORT_SIZE] = {};
    uint32_t count = 0;
    int taken = 0;
    while (taken < 200 && host.WriteReport(report, &count) == 1) ++taken;
    // A few fit the socket's buffers; a device that kept reading would take all 200.
    EXPECT_LT(taken, 100);
    EXPECT_TRUE(device.Hung());
    EXPECT_FALSE(device.Unplugged());
    EXPECT_EQ(device.ReportsMoved(), 3u);

    ASSERT_EQ(write(stop[1], "quit\n", 5), 5);
    serving.join();
    close(stop[0]);
    close(stop[1]);
    unlink(path.c_str());
    rmdir(folder);
}

}  // namespace
