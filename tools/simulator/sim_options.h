#pragma once
// The ruvo-sim command line (documented in README.md). Portable, so the
// contract is tested natively.
#include <cstdint>
#include <string>

#include "tools/simulator/sim_device.h"

struct SimulatorCommandLine {
    std::string pipe;    // full pipe path, \\.\pipe\<name> (Windows front end)
    std::string socket;  // local socket path (native front end)
    bool hasInfo = false;
    uint8_t info[DEVICE_INFO_SIZE] = {};
    std::string flashIn;   // initial flash image, empty: all 0xFF
    std::string dumpFile;  // flash written here at exit
    std::string logFile;   // one line per command received
    unsigned spares = 4;   // listening pipe instances kept ready
    SimulatorOptions device;
};

// False with a one-line reason in `error` on anything unknown or malformed.
bool ParseSimulatorCommandLine(int argc, const char* const* argv, SimulatorCommandLine& out, std::string& error);

extern const char SIMULATOR_USAGE[];
