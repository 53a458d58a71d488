// ruvo-sim: the simulated device on a named pipe, for the unchanged program
// and for scripts. Command line and stop protocol: README.md.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/simulator/pipe_server.h"
#include "tools/simulator/sim_options.h"
#include "tools/simulator/sim_run.h"

// main's arguments arrive in the ANSI code page, not in UTF-8, so this is
// not common/wide_text_win32.h's Wide.
static std::wstring WidenFromAnsi(const std::string& text)
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
    FILE* log = nullptr;
    if (!PrepareSimulator(options, device, &log)) return 2;

    PipeServerConfig config;
    config.pipePath = WidenFromAnsi(options.pipe);
    config.spares = options.spares;
    config.commandLog = CommandLogWriter(log);
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
    return FinishSimulator(options, device, log);
}
