// ruvo-sim, native front end: the simulated device behind a local socket, for
// ruvo-flash (--device sim:PATH) and scripts. Same core and, where it
// applies, the same command line as ruvo-sim.exe; README.md.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/simulator/sim_options.h"
#include "tools/simulator/sim_run.h"
#include "tools/simulator/socket_server_posix.h"

int main(int argc, char** argv)
{
    SimulatorCommandLine options;
    std::string error;
    bool parsed = ParseSimulatorCommandLine(argc, argv, options, error);
    if (parsed && options.socket.empty()) {
        error = "named pipes are the Windows front end's; here use --socket PATH";
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

    {
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
