#pragma once
// The ruvo-flash command line. Portable, so it is tested natively.
#include <string>
#include <vector>

enum class FlashCommand { NONE, LIST, INFO, UPDATE, HELP, VERSION };

struct FlashOptions {
    FlashCommand command = FlashCommand::NONE;
    std::vector<std::string> devices;  // --device, in order given
    bool all = false;                  // --all
    int option = 0;                    // --option K: option line K (line k is catalogue entry k + 2)
    std::string baseUrl;               // --base-url, ending in '/'; empty: the built-in one
    std::vector<std::string> keyFiles;  // --key PUB.pem, repeatable
    int threshold = 0;                  // --threshold N: distinct --key keys that must sign; 0: not given
    bool trustKey = false;              // --trust-key: --key may replace a signed build's keys
    std::string stateDir;               // --state DIR: where accepted releases are remembered
    bool allowHttp = false;            // --allow-http: a signed release over an http --base-url
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

// What a command line may change of a build's trust. A signed build trusts
// only its compiled-in keys over the transport its base URL names: --key
// replaces those keys only with --trust-key, and an http --base-url takes
// signed releases off TLS only with --allow-http, so that a command line
// from a stranger cannot make the tool trust another publisher silently.
// An unsigned build may take --key (it only adds checks) and any base URL.
// --threshold goes with --key (the build's own threshold stands for its own
// keys) and asks for at most as many keys as were given.
// False with the reason in `error`.
bool CheckTrustOptions(const FlashOptions& options, bool signedBuild, std::string& error);

extern const char FLASH_USAGE[];
