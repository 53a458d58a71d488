#include "tools/simulator/sim_run.h"

#include "tools/simulator/sim_flash_file.h"

bool PrepareSimulator(const SimulatorCommandLine& options, SimulatedDevice& device, FILE** log)
{
    *log = nullptr;
    if (!options.flashIn.empty() && !LoadFlashFile(options.flashIn, device)) {
        std::fprintf(stderr, "ruvo-sim: cannot load flash from %s\n", options.flashIn.c_str());
        return false;
    }
    if (options.hasInfo) device.SetInfoRecord(options.info);
    if (!options.logFile.empty() && (*log = std::fopen(options.logFile.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "ruvo-sim: cannot write %s\n", options.logFile.c_str());
        return false;
    }
    return true;
}

std::function<void(const char*)> CommandLogWriter(FILE* log)
{
    return [log](const char* line) {
        if (log == nullptr) return;
        std::fprintf(log, "%s\n", line);
        std::fflush(log);
    };
}

int FinishSimulator(const SimulatorCommandLine& options, const SimulatedDevice& device, FILE* log)
{
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
