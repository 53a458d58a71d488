// ruvo-sim: the simulated device on a named pipe, for the unchanged program
// and for scripts. Command line and stop protocol: README.md.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/simulator/pipe_server.h"
#include "tools/simulator/sim_flash_file.h"
#include "tools/simulator/sim_options.h"

static std::wstring Widen(const std::string& text)
{
    const int chars = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(chars > 0 ? chars - 1 : 0, L'\0');
    if (chars > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], chars);
    return wide;
}

int main(int argc, char** argv)
{
    SimulatorCommandLine options;
    std::string error;
    bool parsed = ParseSimulatorCommandLine(argc, argv, options, error);
    if (parsed && options.pipe.empty()) {
        error = "--socket is the Linux front end's; here use --pipe NAME";
        parsed = false;
    }
    if (!parsed) {
        std::fprintf(stderr, "ruvo-sim: %s\n%s", error.c_str(), SIMULATOR_USAGE);
        return 2;
    }

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

    PipeServerConfig config;
    config.pipePath = Widen(options.pipe);
    config.spares = options.spares;
    config.commandLog = [log](const char* line) {
        if (log == nullptr) return;
        std::fprintf(log, "%s\n", line);
        std::fflush(log);  // a script may read the log while the device runs
    };
    PipeServer server(device, config);
    if (!server.Start()) {
        std::fprintf(stderr, "ruvo-sim: cannot serve %s\n", options.pipe.c_str());
        return 1;
    }
    std::printf("ruvo-sim ready %s\n", options.pipe.c_str());
    std::fflush(stdout);

    char line[256];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (std::strncmp(line, "quit", 4) == 0) break;
    }

    server.Stop();
    int status = 0;
    if (!options.dumpFile.empty() && !DumpFlashFile(options.dumpFile, device)) {
        std::fprintf(stderr, "ruvo-sim: cannot write %s\n", options.dumpFile.c_str());
        status = 1;
    }
    if (log != nullptr) std::fclose(log);
    std::printf("ruvo-sim stopped\n");
    std::fflush(stdout);
    return status;
}
