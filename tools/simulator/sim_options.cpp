#include "tools/simulator/sim_options.h"

#include <cstdlib>

#include "tools/common/numbers.h"

const char SIMULATOR_USAGE[] =
    "usage: ruvo-sim --pipe NAME | --socket PATH | --hidraw N [--info HEX32] [--flash-in FILE] [--dump FILE]\n"
    "                [--log FILE] [--report-us N] [--erase-ms N] [--stop-after N] [--unplug-after N]\n"
    "                [--hang-after N] [--corrupt-offset X [--corrupt-length N]] [--spares N]\n"
    "                [--fail-write-after N] [--node-mode OCTAL] [--node-group GID]   (--hidraw only)\n"
    "Stops when standard input reaches end of file or reads a line \"quit\".\n";

bool ParseSimulatorCommandLine(int argc, const char* const* argv, SimulatorCommandLine& out, std::string& error)
{
    out = SimulatorCommandLine();
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        uint64_t number = 0;
        auto number_in = [&](uint64_t max) {
            if (ParseNumber(value, max, number)) return true;
            error = option + ": not a number up to " + std::to_string(max) + ": " + value;
            return false;
        };
        if (option == "--pipe") {
            out.pipe = value;
            if (out.pipe.empty()) {
                error = "--pipe: empty name";
                return false;
            }
            if (out.pipe.compare(0, 2, "\\\\") != 0) out.pipe = "\\\\.\\pipe\\" + out.pipe;
        } else if (option == "--socket") {
            out.socket = value;
            if (out.socket.empty()) {
                error = "--socket: empty path";
                return false;
            }
        } else if (option == "--hidraw") {
            if (!number_in(HIDRAW_NODE_MAX)) return false;
            out.hidraw = static_cast<int>(number);
        } else if (option == "--node-mode") {
            char* end = nullptr;
            const unsigned long mode = std::strtoul(value, &end, 8);
            if (*value == '\0' || *end != '\0' || mode > 0777) {
                error = "--node-mode: octal permissions up to 0777";
                return false;
            }
            out.nodeMode = static_cast<unsigned>(mode);
        } else if (option == "--node-group") {
            if (!number_in(UINT32_MAX - 1)) return false;
            out.nodeGroup = static_cast<unsigned>(number);
        } else if (option == "--fail-write-after") {
            if (!number_in(SIM_NEVER - 1)) return false;
            out.device.failWriteAfter = number;
        } else if (option == "--info") {
            if (!ParseHexBytes(value, out.info, DEVICE_INFO_SIZE)) {
                error = "--info: expected 32 hex digits";
                return false;
            }
            out.hasInfo = true;
        } else if (option == "--flash-in") {
            out.flashIn = value;
        } else if (option == "--dump") {
            out.dumpFile = value;
        } else if (option == "--log") {
            out.logFile = value;
        } else if (option == "--report-us") {
            if (!number_in(1000000)) return false;
            out.device.reportDelayUs = static_cast<uint32_t>(number);
        } else if (option == "--erase-ms") {
            if (!number_in(60000)) return false;
            out.device.eraseDelayMs = static_cast<uint32_t>(number);
        } else if (option == "--stop-after") {
            if (!number_in(SIM_NEVER - 1)) return false;
            out.device.stopAnsweringAfter = number;
        } else if (option == "--unplug-after") {
            if (!number_in(SIM_NEVER - 1)) return false;
            out.device.unplugAfter = number;
        } else if (option == "--hang-after") {
            if (!number_in(SIM_NEVER - 1)) return false;
            out.device.hangAfter = number;
        } else if (option == "--corrupt-offset") {
            if (!number_in(FLASH_SIZE - 1)) return false;
            out.device.corruptReadBack = true;
            out.device.corruptOffset = static_cast<uint32_t>(number);
        } else if (option == "--corrupt-length") {
            if (!number_in(FLASH_SIZE) || number < 1) {
                error = "--corrupt-length: 1 to the flash size";
                return false;
            }
            out.device.corruptLength = static_cast<uint32_t>(number);
        } else if (option == "--spares") {
            if (!number_in(32) || number < 2) {
                error = "--spares: 2 to 32";
                return false;
            }
            out.spares = static_cast<unsigned>(number);
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    const int frontEnds = !out.pipe.empty() + !out.socket.empty() + (out.hidraw >= 0);
    if (frontEnds != 1) {
        error = "one of --pipe (Windows), --socket or --hidraw (Linux) is required";
        return false;
    }
    // Only a hidraw node can fail one write and still serve the next.
    if (out.device.failWriteAfter != SIM_NEVER && out.hidraw < 0) {
        error = "--fail-write-after needs --hidraw";
        return false;
    }
    return true;
}
