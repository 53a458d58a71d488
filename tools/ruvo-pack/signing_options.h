#pragma once
// The options of publish, refresh and rollback that sign statements:
//   --sign KEY.pem        1 to 3 times, distinct key pairs, in signing order
//   --expires DAYS        the statements end DAYS x 86400 s from now (1 to 3650)
//   --no-expiry           or they never end; one of the two is required with --sign
//   --format-1-too        also <model>.Sig (format 1, first key) for exes already deployed
#include <cstdint>
#include <string>
#include <vector>

#include "tools/ruvo-pack/release_signer.h"

constexpr uint32_t MAX_EXPIRY_DAYS = 3650;
constexpr uint64_t SECONDS_PER_DAY = 86400;

struct SigningOptions {
    std::vector<std::string> keyPaths;
    uint32_t days = 0;  // 0: --expires not given
    bool noExpiry = false;
    bool formatOneToo = false;
};

enum class OptionTaken { NO, YES, BAD };

// Takes args[*i] (and its value, leaving *i on the last word taken) when it
// is one of these options; BAD with a message when its value is malformed.
OptionTaken TakeSigningOption(const std::vector<std::string>& args, size_t* i, SigningOptions* options,
                              std::string* error);

// The signer the options describe, each key read and checked, the expiry
// counted from `now` (seconds since 1970 UTC). Returns a PackExitCode:
// usage for a rule between the options (no end chosen, both ends, an end or
// --format-1-too without --sign, more than 3 keys, one key pair twice); I/O
// for a key file that cannot be read; bad input for one with no usable
// private key, or a build that cannot sign. No --sign: an inactive signer.
int ResolveSigner(const SigningOptions& options, int64_t now, ReleaseSigner* signer, std::string* error);
