#pragma once
// Loading the initial flash from a file and dumping it at exit, for both
// front ends. Portable.
#include <string>

#include "tools/simulator/sim_device.h"

// The file's bytes from offset 0; a shorter file leaves the rest erased.
// False (with a line on stderr for a file larger than the flash) on failure.
bool LoadFlashFile(const std::string& path, SimulatedDevice& device);

// The whole flash, written to PATH.tmp and renamed, so a reader never sees
// half a dump.
bool DumpFlashFile(const std::string& path, const SimulatedDevice& device);
