#pragma once
// The ruvo-sim command line (documented in README.md). Portable, so the
// contract is tested natively.
#include <cstdint>
#include <string>

#include "tools/simulator/sim_device.h"

// Emulated nodes are /dev/hidraw0 to /dev/hidraw15.
constexpr unsigned HIDRAW_NODE_MAX = 15;

struct SimulatorCommandLine {
    std::string pipe;    // full pipe path, \\.\pipe\<name> (Windows front end)
    std::string socket;  // local socket path (native front end)
    int hidraw = -1;     // /dev/hidrawN of an emulated node (native front end), -1: none
    unsigned nodeMode = 0660;  // the node's permissions and group (hidraw)
    unsigned nodeGroup = 0;
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
