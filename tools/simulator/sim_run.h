#pragma once
// What both front ends of ruvo-sim do around serving the device: set it up as
// the command line asks (initial flash, information record, command log) and,
// once stopped, write the flash dump and the closing line. Portable.
#include <cstdio>
#include <functional>

#include "tools/simulator/sim_device.h"
#include "tools/simulator/sim_options.h"

// Loads the flash and the information record the options name and opens the
// command log (`*log` stays null without one). False after a line on stderr:
// the caller exits with 2.
bool PrepareSimulator(const SimulatorCommandLine& options, SimulatedDevice& device, FILE** log);

// Writes each command to the log, flushed per line: scripts read it while
// the device runs. Does nothing without a log.
std::function<void(const char*)> CommandLogWriter(FILE* log);

// Dumps the flash if asked, closes the log and prints "ruvo-sim stopped".
// The exit status: 0, or 1 when the dump could not be written.
int FinishSimulator(const SimulatorCommandLine& options, const SimulatedDevice& device, FILE* log);
