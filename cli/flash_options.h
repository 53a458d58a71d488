#pragma once
// The ruvo-flash command line. Portable, so it is tested natively.
#include <string>
#include <vector>

enum class FlashCommand { NONE, LIST, INFO, UPDATE, HELP };

struct FlashOptions {
    FlashCommand command = FlashCommand::NONE;
    std::vector<std::string> devices;  // --device, in order given
    bool all = false;                  // --all
    int option = 0;                    // --option K: option line K (line k is catalogue entry k + 2)
    std::string baseUrl;               // --base-url, ending in '/'; empty: the built-in one
    std::string keyFile;               // --key PUB.pem
    std::string logFile;               // --log FILE: one JSON line per device outcome (several devices)
    bool json = false;
    bool yes = false;
};

// False with a one-line reason in `error` on anything unknown or malformed.
// Several devices at once: --all, or more than one --device, for update.
inline bool ManyDevices(const FlashOptions& options)
{
    return options.command == FlashCommand::UPDATE && (options.all || options.devices.size() > 1);
}

bool ParseFlashOptions(int argc, const char* const* argv, FlashOptions& out, std::string& error);

extern const char FLASH_USAGE[];
