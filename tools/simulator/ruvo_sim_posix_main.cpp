// ruvo-sim, native front end: the simulated device behind a local socket, for
// ruvo-flash (--device sim:PATH) and scripts. Same core and, where it
// applies, the same command line as ruvo-sim.exe; README.md.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/simulator/sim_flash_file.h"
#include "tools/simulator/sim_options.h"
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
    if (!options.flashIn.empty() && !LoadFlashFile(options.flashIn, device)) {
        std::fprintf(stderr, "ruvo-sim: cannot load flash from %s\n", options.flashIn.c_str());
        return 2;
    }
    if (options.hasInfo) device.SetInfoRecord(options.info);

    FILE* log = nullptr;
    if (!options.logFile.empty() && (log = std::fopen(options.logFile.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "ruvo-sim: cannot write %s\n", options.logFile.c_str());
        return 2;
    }

    int status = 0;
    {
        CSocketServer server(device, [log](const char* line) {
            if (log == nullptr) return;
            std::fprintf(log, "%s\n", line);
            std::fflush(log);  // a script may read the log while the device runs
        });
        if (!server.Start(options.socket)) {
            std::fprintf(stderr, "ruvo-sim: cannot serve %s\n", options.socket.c_str());
            if (log != nullptr) std::fclose(log);
            return 1;
        }
        std::printf("ruvo-sim ready %s\n", options.socket.c_str());
        std::fflush(stdout);
        server.Serve(STDIN_FILENO);
    }
    if (!options.dumpFile.empty() && !DumpFlashFile(options.dumpFile, device)) {
        std::fprintf(stderr, "ruvo-sim: cannot write %s\n", options.dumpFile.c_str());
        status = 1;
    }
    if (log != nullptr) std::fclose(log);
    std::printf("ruvo-sim stopped\n");
    std::fflush(stdout);
    return status;
}
