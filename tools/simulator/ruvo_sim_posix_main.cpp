// ruvo-sim, native front end: the simulated device behind a local socket, for
// ruvo-flash (--device sim:PATH) and scripts, or as an emulated hidraw node
// for the real HID stacks (hidapi, Wine). Same core and, where it applies,
// the same command line as ruvo-sim.exe; README.md.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/simulator/hidraw_node_linux.h"
#include "tools/simulator/sim_options.h"
#include "tools/simulator/sim_run.h"
#include "tools/simulator/socket_server_posix.h"

int main(int argc, char** argv)
{
    SimulatorCommandLine options;
    std::string error;
    bool parsed = ParseSimulatorCommandLine(argc, argv, options, error);
    if (parsed && !options.pipe.empty()) {
        error = "named pipes are the Windows front end's; here use --socket PATH or --hidraw N";
        parsed = false;
    }
    if (!parsed) {
        std::fprintf(stderr, "ruvo-sim: %s\n%s", error.c_str(), SIMULATOR_USAGE);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    SimulatedDevice device(options.device);
    FILE* log = nullptr;
    if (!PrepareSimulator(options, device, &log)) return 2;

    if (options.hidraw >= 0) {
        CHidrawNode node(device, CommandLogWriter(log), unsigned(options.hidraw),
                         CHidrawNode::Access{options.nodeMode, options.nodeGroup});
        std::string why;
        if (!node.Start(why)) {
            std::fprintf(stderr, "ruvo-sim: %s\n", why.c_str());
            if (log != nullptr) std::fclose(log);
            return 1;
        }
        std::printf("ruvo-sim ready /dev/hidraw%d\n", options.hidraw);
        std::fflush(stdout);
        node.Serve(STDIN_FILENO);
    } else {
        CSocketServer server(device, CommandLogWriter(log));
        if (!server.Start(options.socket)) {
            std::fprintf(stderr, "ruvo-sim: cannot serve %s\n", options.socket.c_str());
            if (log != nullptr) std::fclose(log);
            return 1;
        }
        std::printf("ruvo-sim ready %s\n", options.socket.c_str());
        std::fflush(stdout);
        server.Serve(STDIN_FILENO);
    }
    return FinishSimulator(options, device, log);
}
