#include "cli/flash_options.h"

#include <cerrno>
#include <cstdlib>

const char FLASH_USAGE[] =
    "usage: ruvo-flash list [--device D]... [--json]\n"
    "       ruvo-flash info [--device D] [--base-url URL] [--key PUB.pem]... [--threshold N] [--state DIR]\n"
    "                       [--json]\n"
    "       ruvo-flash update [--device D]... [--all] [--option K] [--base-url URL] [--key PUB.pem]...\n"
    "                         [--threshold N] [--state DIR] [--json] [--yes] [--log FILE]\n"
    "       ruvo-flash --help | --version\n"
    "\n"
    "  --device D      a device path from 'list', or sim:PATH for a simulated device on a local socket;\n"
    "                  without it the first matching device is used; repeat it to update several at once\n"
    "  --all           update every matching device at once (and any --device given), one thread each\n"
    "  --option K      the optional image of option line K (default 0, as the window preselects)\n"
    "  --base-url URL  the update server's base URL, ending in '/' (default: the built-in one)\n"
    "  --key PUB.pem   check the signed release statement with this publisher key (ECDSA P-256, PEM)\n"
    "                  instead of the built-in ones; with either, nothing unsigned is flashed. Repeat it\n"
    "                  to trust several keys. A build with built-in keys takes it only with --trust-key\n"
    "  --threshold N   with --key: how many distinct given keys must sign a release (default 1)\n"
    "  --trust-key     let --key replace the built-in keys (the key id is printed)\n"
    "  --state DIR     remember accepted releases in DIR (default: $XDG_STATE_HOME/ruvo-flash,\n"
    "                  ~/.local/state/ruvo-flash; on Windows the registry, HKCU\\Software\\RUVO)\n"
    "  --allow-http    let a build with built-in keys fetch a signed release from an http --base-url\n"
    "  --json          one JSON object per line per event on stdout\n"
    "  --yes           do not ask before the first erase (needed without a terminal)\n"
    "  --log FILE      with several devices: append one JSON line per device outcome\n"
    "  --version       the version, the built-in update server and the key ids this build trusts\n"
    "\n"
    "Exit codes: 0 done or nothing to do, 1 refused or failed, 2 usage, 3 no device,\n"
    "4 network, 5 device cannot be opened (permission), 6 device in use by another ruvo-flash,\n"
    "130 interrupted.\n"
    "The first Ctrl-C finishes the current image, the second stops after the current report.\n";

static bool ParseNumber(const char* text, long lowest, long highest, int& value)
{
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < lowest || parsed > highest) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseFlashOptions(int argc, const char* const* argv, FlashOptions& out, std::string& error)
{
    out = FlashOptions();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            out.command = FlashCommand::HELP;
            return true;
        }
        if (arg == "--version") {
            out.command = FlashCommand::VERSION;
            return true;
        }
        if (arg == "--trust-key") {
            out.trustKey = true;
            continue;
        }
        if (arg == "--allow-http") {
            out.allowHttp = true;
            continue;
        }
        if (arg == "--json") {
            out.json = true;
            continue;
        }
        if (arg == "--yes" || arg == "-y") {
            out.yes = true;
            continue;
        }
        if (arg == "--all") {
            out.all = true;
            continue;
        }
        if (arg.compare(0, 2, "--") == 0) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            const std::string value = argv[++i];
            if (arg == "--device") {
                if (value.empty() || value == "sim:") {
                    error = "--device: empty path";
                    return false;
                }
                out.devices.push_back(value);
            } else if (arg == "--option") {
                if (!ParseNumber(value.c_str(), 0, 5, out.option)) {  // at most six option lines
                    error = "--option: a line number from 0 to 5";
                    return false;
                }
            } else if (arg == "--base-url") {
                if (value.compare(0, 7, "http://") != 0 && value.compare(0, 8, "https://") != 0) {
                    error = "--base-url: an http:// or https:// URL";
                    return false;
                }
                out.baseUrl = value.back() == '/' ? value : value + "/";
            } else if (arg == "--key") {
                out.keyFiles.push_back(value);
            } else if (arg == "--threshold") {
                if (!ParseNumber(value.c_str(), 1, 3, out.threshold)) {  // a statement carries three signatures
                    error = "--threshold: a number of keys from 1 to 3";
                    return false;
                }
            } else if (arg == "--state") {
                if (value.empty()) {
                    error = "--state: empty folder";
                    return false;
                }
                out.stateDir = value;
            } else if (arg == "--log") {
                out.logFile = value;
            } else {
                error = "unknown option " + arg;
                return false;
            }
            continue;
        }
        if (out.command != FlashCommand::NONE) {
            error = "one command only: " + arg;
            return false;
        }
        if (arg == "list")
            out.command = FlashCommand::LIST;
        else if (arg == "info")
            out.command = FlashCommand::INFO;
        else if (arg == "update")
            out.command = FlashCommand::UPDATE;
        else {
            error = "unknown command " + arg;
            return false;
        }
    }
    if (out.command == FlashCommand::NONE) {
        error = "a command is needed: list, info or update";
        return false;
    }
    if (out.command == FlashCommand::INFO && (out.devices.size() > 1 || out.all)) {
        error = "info takes one device";
        return false;
    }
    if (out.command != FlashCommand::UPDATE && !out.logFile.empty()) {
        error = "--log belongs to update";
        return false;
    }
    return true;
}

bool CheckTrustOptions(const FlashOptions& options, bool signedBuild, std::string& error)
{
    if (options.trustKey && options.keyFiles.empty()) {
        error = "--trust-key goes with --key";
        return false;
    }
    if (signedBuild && !options.keyFiles.empty() && !options.trustKey) {
        error = "--key: this build trusts its own publisher keys (see --version); add --trust-key to replace "
                "them with these";
        return false;
    }
    if (options.threshold > 0 && options.keyFiles.empty()) {
        error = "--threshold goes with --key: a build's own keys keep its own threshold (see --version)";
        return false;
    }
    if (options.threshold > static_cast<int>(options.keyFiles.size())) {
        error = "--threshold " + std::to_string(options.threshold) + " asks for more keys than the " +
                std::to_string(options.keyFiles.size()) + " given with --key";
        return false;
    }
    if (signedBuild && options.baseUrl.compare(0, 7, "http://") == 0 && !options.allowHttp) {
        error = "--base-url: signed releases are fetched over https; add --allow-http to use " + options.baseUrl;
        return false;
    }
    return true;
}
