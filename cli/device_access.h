#pragma once
// Finding and opening devices for ruvo-flash: real ones through the
// platform's HID back end, simulated ones as sim:PATH (a local socket).
#include <memory>
#include <string>
#include <vector>

#include "device/report_transport.h"

constexpr char SIM_PREFIX[] = "sim:";

// IN_USE: another ruvo-flash has the device open (Linux: the node's advisory lock).
enum class OpenStatus { OK, NOT_FOUND, NO_ACCESS, IN_USE, FAILED };

struct OpenedDevice {
    std::string path;
    std::unique_ptr<CReportTransport> transport;
    std::shared_ptr<void> keepAlive;  // the back end's handle, released after the transport
    ~OpenedDevice() { transport.reset(); }
};

// Paths of the matching devices (vendor 0416, product F362), in enumeration order.
std::vector<std::string> ListDevicePaths();

// Opens one device by path: a path from ListDevicePaths or sim:PATH. `detail`
// receives the back end's words on failure. On Linux a real device is held
// under an exclusive flock on its node until `out` goes, so a second
// ruvo-flash (or its `list`) never mixes its commands into an update.
OpenStatus OpenDevicePath(const std::string& path, OpenedDevice& out, std::string& detail);
